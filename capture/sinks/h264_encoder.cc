#include "capture/sinks/h264_encoder.h"

#include <libyuv/convert_from_argb.h>
#include <libyuv/scale_argb.h>

#include <algorithm>

#include "capture/sinks/libav_error.h"

extern "C" {
#include <libavutil/opt.h>
}

namespace tavolu {

int64_t h264BitRate(int width, int height, int fps) {
  int64_t pixelsPerSecond = static_cast<int64_t>(width) * height * fps;
  auto rate = static_cast<int64_t>(static_cast<double>(pixelsPerSecond) * 0.24);
  return std::clamp<int64_t>(rate, 12'000'000, 120'000'000);
}

H264Encoder::H264Encoder(int width, int height, int fps, AVRational timeBase,
                         const std::string& name)
    : name_(name) {
  if (width <= 0 || height <= 0 || fps <= 0)
    throw av::error("Invalid video size " + std::to_string(width) + "x" + std::to_string(height) +
                        " at " + std::to_string(fps) + " fps for " + name,
                    AVERROR(EINVAL));
  const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
  if (!codec)
    throw av::error("The H.264 encoder (libx264) is not available for " + name,
                    AVERROR_ENCODER_NOT_FOUND);
  context_.reset(avcodec_alloc_context3(codec));
  if (!context_) throw av::error("Could not set up the H.264 encoder", AVERROR(ENOMEM));
  AVCodecContext* c = context_.get();
  // 4:2:0 needs even sizes.
  c->width = std::max(2, width / 2 * 2);
  c->height = std::max(2, height / 2 * 2);
  c->pix_fmt = AV_PIX_FMT_YUV420P;
  c->time_base = timeBase;
  c->framerate = AVRational{fps, 1};
  c->bit_rate = h264BitRate(width, height, fps);
  c->gop_size = 2 * fps;
  c->max_b_frames = 0;
  c->thread_count = 0;  // x264 picks its frame threads from the cores
  // libyuv's conversion below produces BT.601 limited-range YUV.
  c->colorspace = AVCOL_SPC_SMPTE170M;
  c->color_range = AVCOL_RANGE_MPEG;
  c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;  // MPEG-4 keeps SPS/PPS in the track header
  av_opt_set(c->priv_data, "preset", kH264Preset, 0);
  av_opt_set(c->priv_data, "profile", "high", 0);
  av::check(avcodec_open2(c, codec, nullptr), "Could not start the H.264 encoder for " + name);

  frame_.reset(av_frame_alloc());
  packet_.reset(av_packet_alloc());
  if (!frame_ || !packet_) throw av::error("Could not set up the H.264 encoder", AVERROR(ENOMEM));
  frame_->format = c->pix_fmt;
  frame_->width = c->width;
  frame_->height = c->height;
  av::check(av_frame_get_buffer(frame_.get(), 0), "Could not allocate a video frame");
}

void H264Encoder::encode(const PixelBuffer& picture, int64_t pts, const PacketSink& sink) {
  const AVCodecContext* c = context_.get();
  const uint8_t* bgra = picture.bytes.data();
  int stride = picture.stride;
  if (picture.width != c->width || picture.height != c->height) {
    if (scaled_.width != c->width || scaled_.height != c->height)
      scaled_ = *PixelBuffer::make(c->width, c->height);
    libyuv::ARGBScale(picture.bytes.data(), picture.stride, picture.width, picture.height,
                      scaled_.bytes.data(), scaled_.stride, c->width, c->height,
                      libyuv::kFilterBilinear);
    bgra = scaled_.bytes.data();
    stride = scaled_.stride;
  }
  av::check(av_frame_make_writable(frame_.get()), "Could not reuse a video frame");
  // libyuv's "ARGB" is B, G, R, A in memory: our BGRA.
  libyuv::ARGBToI420(bgra, stride, frame_->data[0], frame_->linesize[0], frame_->data[1],
                     frame_->linesize[1], frame_->data[2], frame_->linesize[2], c->width,
                     c->height);
  frame_->pts = pts;
  av::check(avcodec_send_frame(context_.get(), frame_.get()),
            "The H.264 encoder refused a frame for " + name_);
  receive(sink);
}

void H264Encoder::flush(const PacketSink& sink) {
  int rc = avcodec_send_frame(context_.get(), nullptr);
  if (rc != AVERROR_EOF) av::check(rc, "Could not drain the H.264 encoder for " + name_);
  receive(sink);
}

void H264Encoder::receive(const PacketSink& sink) {
  for (;;) {
    int rc = avcodec_receive_packet(context_.get(), packet_.get());
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
    av::check(rc, "The H.264 encoder failed for " + name_);
    sink(packet_.get());
    av_packet_unref(packet_.get());
  }
}

}  // namespace tavolu
