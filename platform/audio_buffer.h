// Audio sample buffers as the capture backends deliver them: a stream description and the
// samples, stamped on the host clock.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/media_time.h"

namespace tavolu {

// Stream description of a buffer's samples (the fields a linear-PCM or compressed stream
// is described by).
struct AudioFormat {
  static constexpr uint32_t kLinearPCM = 0x6C70636D;  // 'lpcm'
  static constexpr uint32_t kFloat = 1, kPacked = 8, kNonInterleaved = 32;

  double sampleRate = 0;
  uint32_t formatId = kLinearPCM;
  uint32_t formatFlags = kFloat | kPacked;  // 9: interleaved packed float
  uint32_t bytesPerPacket = 0;
  uint32_t framesPerPacket = 1;
  uint32_t bytesPerFrame = 0;
  uint32_t channelsPerFrame = 0;
  uint32_t bitsPerChannel = 32;

  // Interleaved 32-bit float, the format PulseAudio delivers.
  static AudioFormat floatInterleaved(double rate, uint32_t channels) {
    return {rate, kLinearPCM, kFloat | kPacked, 4 * channels, 1, 4 * channels, channels, 32};
  }
  bool isInterleavedFloat() const {
    return formatId == kLinearPCM && (formatFlags & kFloat) && !(formatFlags & kNonInterleaved) &&
           bitsPerChannel == 32;
  }
};

struct AudioSampleBuffer {
  std::optional<AudioFormat> format;  // absent: the buffer cannot start a writer
  MediaTime pts;                      // presentation time of the first frame
  int64_t frames = 0;                 // sample frames in the buffer
  std::vector<float> samples;         // frames * channels, interleaved

  MediaTime duration() const {
    return format && format->sampleRate > 0
               ? MediaTime::make(frames, static_cast<int32_t>(format->sampleRate))
               : MediaTime::invalid();
  }
};

}  // namespace tavolu
