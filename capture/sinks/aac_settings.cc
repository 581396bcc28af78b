#include "capture/sinks/aac_settings.h"

#include <algorithm>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace tavolu {

const std::vector<double>& fixedAacSampleRates() {
  static const std::vector<double> rates{8000,  11025, 12000, 16000, 22050,
                                         24000, 32000, 44100, 48000};
  return rates;
}

std::vector<double> aacEncoderSampleRates() {
  std::vector<double> rates;
  const AVCodec* codec = avcodec_find_encoder_by_name("aac");
  if (codec && codec->supported_samplerates)
    for (const int* r = codec->supported_samplerates; *r != 0; ++r)
      if (*r > 0) rates.push_back(*r);
  return rates.empty() ? fixedAacSampleRates() : rates;
}

double chooseSampleRate(double sourceRate, const std::vector<double>& rates) {
  if (rates.empty()) return sourceRate;
  if (std::find(rates.begin(), rates.end(), sourceRate) != rates.end()) return sourceRate;
  double below = 0, smallest = rates.front();
  for (double r : rates) {
    if (r < sourceRate) below = std::max(below, r);
    smallest = std::min(smallest, r);
  }
  return below > 0 ? below : smallest;
}

int64_t aacBitRate(double encodeRate, int channels) {
  return static_cast<int64_t>(std::min(std::min(2 * encodeRate, 96000.0) * channels, 192000.0));
}

}  // namespace tavolu
