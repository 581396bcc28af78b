// Encoder settings of the audio files: the AAC sample rate chosen for a source rate, and the
// bit rate for a rate and channel count.
#pragma once

#include <cstdint>
#include <vector>

namespace tavolu {

// The rates used when the encoder names none.
const std::vector<double>& fixedAacSampleRates();

// The sample rates FFmpeg's AAC encoder supports, or the fixed list when it names none.
std::vector<double> aacEncoderSampleRates();

// The source rate when listed; else the largest listed rate below it; else the smallest.
double chooseSampleRate(double sourceRate, const std::vector<double>& rates);

// min(min(2 x rate, 96000) x channels, 192000) bits per second, truncated.
int64_t aacBitRate(double encodeRate, int channels);

}  // namespace tavolu
