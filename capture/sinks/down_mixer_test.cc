#include "capture/sinks/down_mixer.h"

#include <gtest/gtest.h>

namespace tavolu {
namespace {

TEST(DownMixer, SumsTheChannelsAndClampsTheSum) {
  struct Case {
    const char* name;
    std::vector<float> frame;  // one value per channel
    float mono;
  } cases[] = {
      {"six at 0.5 clamp to 1.0, not 3.0 or an average",
       {0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f},
       1.0f},
      {"six at -0.5 clamp to -1.0", {-0.5f, -0.5f, -0.5f, -0.5f, -0.5f, -0.5f}, -1.0f},
      {"three channels sum", {0.2f, 0.3f, -0.1f}, 0.4f},
      {"four quiet channels are not averaged down", {0.1f, 0.1f, 0.1f, 0.1f}, 0.4f},
      {"opposite channels cancel", {0.7f, -0.7f, 0.0f, 0.0f, 0.0f}, 0.0f},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int channels = static_cast<int>(c.frame.size());
    DownMixer mixer(channels, 48000);
    const int frames = 480;
    std::vector<float> interleaved;
    for (int j = 0; j < frames; ++j)
      interleaved.insert(interleaved.end(), c.frame.begin(), c.frame.end());
    auto mono = mixer.mix(interleaved.data(), frames);
    ASSERT_TRUE(mono);
    ASSERT_EQ(mono->size(), static_cast<size_t>(frames));
    for (float v : *mono) EXPECT_NEAR(v, c.mono, 1e-6);
  }
}

TEST(DownMixer, KeepsEachFrameApartAndYieldsNothingForNoFrames) {
  DownMixer mixer(3, 44100);
  std::vector<float> interleaved{0.1f, 0.0f, 0.0f, 0.0f, 0.2f, 0.0f, 0.0f, 0.0f, 0.3f};
  auto mono = mixer.mix(interleaved.data(), 3);
  ASSERT_TRUE(mono);
  EXPECT_NEAR((*mono)[0], 0.1f, 1e-6);
  EXPECT_NEAR((*mono)[1], 0.2f, 1e-6);
  EXPECT_NEAR((*mono)[2], 0.3f, 1e-6);
  EXPECT_FALSE(mixer.mix(interleaved.data(), 0));
}

}  // namespace
}  // namespace tavolu
