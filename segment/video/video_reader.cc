#include "segment/video/video_reader.h"

extern "C" {
#include <libavutil/display.h>
}

#include <cmath>

namespace tavolu::segment {

VideoReader::VideoReader(const std::string& path) : path_(path) {
  AVFormatContext* raw = nullptr;
  avCheck(avformat_open_input(&raw, path.c_str(), nullptr, nullptr), "Cannot open " + path);
  format_.reset(raw);
  avCheck(avformat_find_stream_info(format_.get(), nullptr), "Cannot read the streams of " + path);

  AVStream* stream = nullptr;
  for (unsigned i = 0; i < format_->nb_streams; ++i) {
    AVStream* s = format_->streams[i];
    // Cover art is a picture attached to the file, not a video track.
    if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
        !(s->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
      stream = s;
      break;
    }
  }
  if (!stream) throw Error("Mask", 1, "Camera video has no video track.");
  streamIndex_ = stream->index;
  for (unsigned i = 0; i < format_->nb_streams; ++i)
    if (static_cast<int>(i) != streamIndex_) format_->streams[i]->discard = AVDISCARD_ALL;

  const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
  if (!codec)
    throw Error("FFmpeg", AVERROR_DECODER_NOT_FOUND,
                "No decoder for the " + std::string(avcodec_get_name(stream->codecpar->codec_id)) +
                    " video of " + path + ".");
  decoder_.reset(avcodec_alloc_context3(codec));
  if (!decoder_) throw avError(AVERROR(ENOMEM), "Cannot create a decoder");
  avCheck(avcodec_parameters_to_context(decoder_.get(), stream->codecpar),
          "Cannot set up the decoder for " + path);
  decoder_->pkt_timebase = stream->time_base;
  decoder_->thread_count = 0;  // one per core
  decoder_->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
  avCheck(avcodec_open2(decoder_.get(), codec, nullptr), "Cannot open the decoder for " + path);
  packet_.reset(av_packet_alloc());
  frame_.reset(av_frame_alloc());
  if (!packet_ || !frame_) throw avError(AVERROR(ENOMEM), "Cannot allocate decoding buffers");

  track_.width = stream->codecpar->width;
  track_.height = stream->codecpar->height;
  track_.timeBase = stream->time_base;
  track_.frameRate = stream->avg_frame_rate;
  if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
    track_.duration = stream->duration;
    if (stream->start_time != AV_NOPTS_VALUE && stream->start_time > 0)
      track_.duration += stream->start_time;
  }
  if (format_->duration != AV_NOPTS_VALUE && format_->duration > 0) {
    const int64_t whole = av_rescale_q(format_->duration, AV_TIME_BASE_Q, stream->time_base);
    track_.duration = std::max(track_.duration, whole);
  }
  size_t size = 0;
  const uint8_t* side = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
  if (side && size >= 9 * sizeof(int32_t)) {
    const auto* m = reinterpret_cast<const int32_t*>(side);
    track_.transform = {m[0] / 65536.0, m[1] / 65536.0, m[3] / 65536.0,
                        m[4] / 65536.0, m[6] / 65536.0, m[7] / 65536.0};
    const double ccw = av_display_rotation_get(m);
    if (std::isfinite(ccw)) {
      int cw = static_cast<int>(std::lround(-ccw / 90.0)) * 90;
      track_.clockwiseRotation = ((cw % 360) + 360) % 360;
    }
  }
}

bool VideoReader::receive() {
  int rc = avcodec_receive_frame(decoder_.get(), frame_.get());
  if (rc == AVERROR(EAGAIN)) return false;
  if (rc == AVERROR_EOF) {
    finished_ = true;
    return false;
  }
  avCheck(rc, "Cannot decode the video of " + path_);
  int64_t pts = frame_->best_effort_timestamp;
  if (pts == AV_NOPTS_VALUE) pts = frame_->pts;
  // A frame without a time follows the one before it.
  if (pts == AV_NOPTS_VALUE) pts = lastPts_ == AV_NOPTS_VALUE ? 0 : lastPts_ + 1;
  frame_->pts = pts;
  lastPts_ = pts;
  return true;
}

const AVFrame* VideoReader::next() {
  av_frame_unref(frame_.get());
  while (!finished_) {
    if (receive()) return frame_.get();
    if (finished_) break;
    if (draining_) break;  // a drained decoder that wants input has nothing more
    int rc = av_read_frame(format_.get(), packet_.get());
    if (rc == AVERROR_EOF) {
      draining_ = true;
      avCheck(avcodec_send_packet(decoder_.get(), nullptr), "Cannot finish decoding " + path_);
      continue;
    }
    avCheck(rc, "Cannot read " + path_);
    if (packet_->stream_index == streamIndex_) {
      rc = avcodec_send_packet(decoder_.get(), packet_.get());
      av_packet_unref(packet_.get());
      avCheck(rc, "Cannot decode the video of " + path_);
    } else {
      av_packet_unref(packet_.get());
    }
  }
  return nullptr;
}

}  // namespace tavolu::segment
