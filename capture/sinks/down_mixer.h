// Mixes sources of three or more channels down to one: the samples are made planar with
// libswresample, then every frame's channels are summed and the sum clamped to [-1, 1] (a
// sum, not an average, so quiet channels are not made quieter).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "capture/sinks/libav_ptr.h"

namespace tavolu {

class DownMixer {
 public:
  // Throws an FFmpeg error when no converter exists for `channels` interleaved 32-bit float
  // channels at `sampleRate`.
  DownMixer(int channels, double sampleRate);

  // The mono mix of `frames` interleaved frames, or nothing when there are no frames or the
  // conversion fails.
  std::optional<std::vector<float>> mix(const float* interleaved, int64_t frames);

 private:
  int channels_;
  av::SwrPtr converter_;
};

}  // namespace tavolu
