// Writes the matte as an H.264 video in an MPEG-4 file: one video track, no audio, 6,000,000
// bit/s on average, a key frame at least every 15 frames. Each frame keeps the time it is
// given; the track ends at the time given to finish().
#pragma once

#include <cstdint>
#include <string>

#include "segment/video/av_holders.h"

namespace tavolu::segment {

class MatteWriter {
 public:
  static constexpr int64_t kBitRate = 6'000'000;
  static constexpr int kMaxKeyFrameInterval = 15;
  static constexpr int kMinQuantiser = 10;

  // Creates the file (which must not exist yet) and the encoder for width x height frames with
  // times in `timeBase`;
  // `frameRate` is the expected rate (for the encoder's rate control). Throws the libav error.
  MatteWriter(const std::string& path, int width, int height, AVRational timeBase,
              AVRational frameRate);

  // Encodes one matte frame (8-bit grey, 0 background to 255 person) at `pts`.
  void append(const uint8_t* grey, int stride, int64_t pts);
  // Flushes the encoder, ends the track at `end` (or after the last frame when that is later)
  // and completes the file.
  void finish(int64_t end);

 private:
  void send(const AVFrame* frame);
  void writeHeld(int64_t nextPts);
  // Throws when a write to the file has failed.
  void checkWrites();

  std::string path_;
  OutputContext format_;
  CodecContext encoder_;
  AVStream* stream_ = nullptr;
  FramePtr frame_;
  PacketPtr packet_, held_;
  bool holding_ = false;
  int64_t lastPts_ = AV_NOPTS_VALUE;
  int64_t typicalDuration_ = 1;
  uint8_t toVideoRange_[256];
};

}  // namespace tavolu::segment
