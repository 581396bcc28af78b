// One owner per libav object, and libav return codes turned into error values.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libswscale/swscale.h>
}

#include <memory>
#include <string>

#include "platform/error.h"

namespace tavolu::segment {

struct InputContextDeleter {
  void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct OutputContextDeleter {
  void operator()(AVFormatContext* c) const {
    if (c && c->pb && !(c->oformat->flags & AVFMT_NOFILE)) avio_closep(&c->pb);
    avformat_free_context(c);
  }
};
struct CodecContextDeleter {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwsDeleter {
  void operator()(SwsContext* s) const { sws_freeContext(s); }
};

using InputContext = std::unique_ptr<AVFormatContext, InputContextDeleter>;
using OutputContext = std::unique_ptr<AVFormatContext, OutputContextDeleter>;
using CodecContext = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using SwsPtr = std::unique_ptr<SwsContext, SwsDeleter>;

// libav's text for an error code.
inline std::string avErrorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

// The error value for a failed libav call: `what` says what was being done.
inline Error avError(int code, const std::string& what) {
  return Error("FFmpeg", code, what + ": " + avErrorText(code) + ".");
}

// Throws when a libav call returned a negative code.
inline int avCheck(int code, const std::string& what) {
  if (code < 0) throw avError(code, what);
  return code;
}

}  // namespace tavolu::segment
