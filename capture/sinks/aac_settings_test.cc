#include "capture/sinks/aac_settings.h"

#include <gtest/gtest.h>

#include "capture/sinks/audio_sink.h"

namespace tavolu {
namespace {

TEST(AacSettings, ChoosesTheSourceRateOrTheNextListedRateBelowIt) {
  struct Case {
    double source, fixedList, encoderList;
  } cases[] = {
      {48000, 48000, 48000}, {96000, 48000, 96000}, {47999, 44100, 44100},
      {44100, 44100, 44100}, {7000, 8000, 7350},    {192000, 48000, 96000},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(chooseSampleRate(c.source, fixedAacSampleRates()), c.fixedList) << c.source;
    // FFmpeg's encoder names its rates, so the fixed list is only the fallback.
    EXPECT_EQ(AudioSink::encodeRate(c.source, 2), c.encoderList) << c.source;
    EXPECT_EQ(AudioSink::encodeRate(c.source, 6), c.encoderList) << c.source;
  }
}

TEST(AacSettings, BitRateIsTwoBitsPerSampleAndChannelUpTo192k) {
  struct Case {
    double rate;
    int channels;
    int64_t bitRate;
  } cases[] = {
      {48000, 2, 192000}, {48000, 1, 96000},  {44100, 2, 176400},
      {16000, 1, 32000},  {96000, 2, 192000}, {96000, 1, 96000},
  };
  for (const auto& c : cases)
    EXPECT_EQ(aacBitRate(c.rate, c.channels), c.bitRate) << c.rate << " Hz x" << c.channels;
}

}  // namespace
}  // namespace tavolu
