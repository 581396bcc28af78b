// H.264 encoding of BGRA pictures with libx264: High profile, average bit rate, a key frame at
// least every two seconds, no B-frames.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "capture/sinks/libav_ptr.h"
#include "platform/pixel_buffer.h"

namespace tavolu {

// Average bit rate for a picture size and frame rate: 0.24 bit per pixel and frame, at least
// 12 Mbit/s and at most 120 Mbit/s.
int64_t h264BitRate(int width, int height, int fps);

// x264 speed preset: fast enough for 1920x1080 at 30 fps in real time on two cores.
inline constexpr const char* kH264Preset = "superfast";

class H264Encoder {
 public:
  using PacketSink = std::function<void(AVPacket*)>;

  // Opens the encoder for pictures of width x height (rounded down to even numbers, at least
  // 2) at `fps`, with times counted in `timeBase`; `name` names the file in error messages.
  H264Encoder(int width, int height, int fps, AVRational timeBase, const std::string& name);

  // The opened encoder (its parameters describe the track).
  const AVCodecContext* context() const { return context_.get(); }
  int width() const { return context_->width; }
  int height() const { return context_->height; }

  // Encodes one picture at `pts` (in the time base); a picture of another size is scaled to
  // the encoded size. Each finished packet goes to `sink`. Throws on an encoder failure.
  void encode(const PixelBuffer& picture, int64_t pts, const PacketSink& sink);
  // Drains the pictures the encoder still holds.
  void flush(const PacketSink& sink);

 private:
  void receive(const PacketSink& sink);

  std::string name_;
  av::CodecContextPtr context_;
  av::FramePtr frame_;
  av::PacketPtr packet_;
  PixelBuffer scaled_;  // scratch for pictures of another size
};

}  // namespace tavolu
