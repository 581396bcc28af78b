#include "segment/video/matte_writer.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace tavolu::segment {

MatteWriter::MatteWriter(const std::string& path, int width, int height, AVRational timeBase,
                         AVRational frameRate)
    : path_(path) {
  AVFormatContext* raw = nullptr;
  // Always MPEG-4, whatever the extension says.
  avCheck(avformat_alloc_output_context2(&raw, nullptr, "mp4", path.c_str()),
          "Cannot set up the MPEG-4 file " + path);
  format_.reset(raw);
  const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
  if (!codec)
    throw Error("FFmpeg", AVERROR_ENCODER_NOT_FOUND, "This FFmpeg has no libx264 H.264 encoder.");
  encoder_.reset(avcodec_alloc_context3(codec));
  if (!encoder_) throw avError(AVERROR(ENOMEM), "Cannot create the H.264 encoder");
  if (frameRate.num <= 0 || frameRate.den <= 0) frameRate = {30, 1};
  // The matte never runs faster than 60 frames per second.
  if (av_cmp_q(frameRate, AVRational{60, 1}) > 0) frameRate = {60, 1};
  encoder_->width = width;
  encoder_->height = height;
  encoder_->pix_fmt = AV_PIX_FMT_YUV420P;
  encoder_->time_base = timeBase;
  encoder_->framerate = frameRate;
  encoder_->bit_rate = kBitRate;
  encoder_->gop_size = kMaxKeyFrameInterval;
  encoder_->max_b_frames = 0;  // packets in display order: each one's duration is known
  encoder_->thread_count = 0;
  encoder_->color_range = AVCOL_RANGE_MPEG;
  encoder_->colorspace = AVCOL_SPC_BT709;
  encoder_->color_primaries = AVCOL_PRI_BT709;
  encoder_->color_trc = AVCOL_TRC_BT709;
  if (format_->oformat->flags & AVFMT_GLOBALHEADER) encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  av_opt_set(encoder_->priv_data, "preset", "veryfast", 0);
  av_opt_set(encoder_->priv_data, "profile", "high", 0);
  // A matte is mostly flat: at 6,000,000 bit/s the rate control would drive the quantiser
  // towards 0 and spend most of the encoding time on bits that change nothing visible. From
  // quantiser 10 down the picture is already indistinguishable from the source matte.
  encoder_->qmin = kMinQuantiser;
  avCheck(avcodec_open2(encoder_.get(), codec, nullptr), "Cannot open the H.264 encoder");

  stream_ = avformat_new_stream(format_.get(), nullptr);
  if (!stream_) throw avError(AVERROR(ENOMEM), "Cannot add the video track to " + path);
  stream_->time_base = timeBase;
  avCheck(avcodec_parameters_from_context(stream_->codecpar, encoder_.get()),
          "Cannot describe the video track of " + path);
  // Never over an existing file, the way the platform's asset writer refuses one: that also
  // keeps a camera video safe when the output path names it too.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) throw avError(AVERROR(errno), "Cannot create " + path);
  ::close(fd);
  avCheck(avio_open(&format_->pb, path.c_str(), AVIO_FLAG_WRITE), "Cannot create " + path);
  avCheck(avformat_write_header(format_.get(), nullptr), "Cannot start writing " + path);

  frame_.reset(av_frame_alloc());
  packet_.reset(av_packet_alloc());
  held_.reset(av_packet_alloc());
  if (!frame_ || !packet_ || !held_) throw Error("Mask", 4);
  frame_->format = AV_PIX_FMT_YUV420P;
  frame_->width = width;
  frame_->height = height;
  if (av_frame_get_buffer(frame_.get(), 0) < 0) throw Error("Mask", 4);
  typicalDuration_ = std::max<int64_t>(1, av_rescale_q(1, av_inv_q(frameRate), timeBase));
  // Grey levels as the video range stores them (16 black to 235 white).
  for (int g = 0; g < 256; ++g) toVideoRange_[g] = static_cast<uint8_t>(16 + (g * 219 + 127) / 255);
}

void MatteWriter::append(const uint8_t* grey, int stride, int64_t pts) {
  // The encoder may still hold the previous picture's buffers.
  if (av_frame_make_writable(frame_.get()) < 0) throw Error("Mask", 4);
  for (int y = 0; y < frame_->height; ++y) {
    const uint8_t* src = grey + static_cast<ptrdiff_t>(y) * stride;
    uint8_t* dst = frame_->data[0] + static_cast<ptrdiff_t>(y) * frame_->linesize[0];
    for (int x = 0; x < frame_->width; ++x) dst[x] = toVideoRange_[src[x]];
  }
  for (int p = 1; p < 3; ++p)
    for (int y = 0; y < (frame_->height + 1) / 2; ++y)
      std::memset(frame_->data[p] + static_cast<ptrdiff_t>(y) * frame_->linesize[p], 128,
                  (frame_->width + 1) / 2);
  frame_->pts = pts;
  send(frame_.get());
}

void MatteWriter::send(const AVFrame* frame) {
  avCheck(avcodec_send_frame(encoder_.get(), frame), "Cannot encode a matte frame for " + path_);
  for (;;) {
    int rc = avcodec_receive_packet(encoder_.get(), packet_.get());
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
    avCheck(rc, "Cannot encode a matte frame for " + path_);
    // A packet's duration is the gap to the next one, so each is written one packet late.
    if (holding_) writeHeld(packet_->pts);
    av_packet_move_ref(held_.get(), packet_.get());
    holding_ = true;
  }
}

void MatteWriter::writeHeld(int64_t nextPts) {
  const int64_t gap = nextPts - held_->pts;
  if (gap > 0) typicalDuration_ = gap;
  held_->duration = gap > 0 ? gap : typicalDuration_;
  lastPts_ = held_->pts;
  av_packet_rescale_ts(held_.get(), encoder_->time_base, stream_->time_base);
  held_->stream_index = stream_->index;
  avCheck(av_interleaved_write_frame(format_.get(), held_.get()), "Cannot write " + path_);
  checkWrites();
  holding_ = false;
}

void MatteWriter::finish(int64_t end) {
  send(nullptr);
  if (holding_) {
    // The last frame lasts until the end of the timeline.
    const int64_t last = held_->pts;
    writeHeld(end > last ? end : last + typicalDuration_);
  }
  avCheck(av_write_trailer(format_.get()), "Cannot finish " + path_);
  avio_flush(format_->pb);
  checkWrites();
  avCheck(avio_closep(&format_->pb), "Cannot close " + path_);
}

void MatteWriter::checkWrites() {
  // The muxer writes through a buffer and keeps a failed write (a full disk) in the I/O
  // context's error rather than in its own return codes.
  if (format_->pb && format_->pb->error < 0)
    throw avError(format_->pb->error, "Cannot write " + path_);
}

}  // namespace tavolu::segment
