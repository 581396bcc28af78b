#include "capture/sinks/down_mixer.h"

#include <algorithm>
#include <cmath>

#include "capture/sinks/libav_error.h"

namespace tavolu {

DownMixer::DownMixer(int channels, double sampleRate) : channels_(channels) {
  AVChannelLayout layout{};
  av_channel_layout_default(&layout, channels);
  int rate = static_cast<int>(std::lround(sampleRate));
  SwrContext* raw = nullptr;
  int rc = swr_alloc_set_opts2(&raw, &layout, AV_SAMPLE_FMT_FLTP, rate, &layout, AV_SAMPLE_FMT_FLT,
                               rate, 0, nullptr);
  av_channel_layout_uninit(&layout);
  converter_.reset(raw);
  av::check(rc, "Could not set up the down-mix converter");
  av::check(swr_init(converter_.get()), "Could not start the down-mix converter");
}

std::optional<std::vector<float>> DownMixer::mix(const float* interleaved, int64_t frames) {
  if (frames < 1 || frames > INT32_MAX) return std::nullopt;
  int n = static_cast<int>(frames);
  std::vector<float> planar(static_cast<size_t>(n) * channels_, 0.0f);
  std::vector<uint8_t*> planes(channels_);
  for (int i = 0; i < channels_; ++i)
    planes[i] = reinterpret_cast<uint8_t*>(planar.data() + static_cast<size_t>(i) * n);
  const uint8_t* in[] = {reinterpret_cast<const uint8_t*>(interleaved)};
  int converted = swr_convert(converter_.get(), planes.data(), n, in, n);
  if (converted != n) return std::nullopt;

  std::vector<float> mono(n, 0.0f);
  for (int i = 0; i < channels_; ++i) {
    const float* plane = planar.data() + static_cast<size_t>(i) * n;
    for (int j = 0; j < n; ++j) mono[j] += plane[j];
  }
  for (float& v : mono) v = std::clamp(v, -1.0f, 1.0f);
  return mono;
}

}  // namespace tavolu
