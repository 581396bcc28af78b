#include "speech/utterance_segmenter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace tavolu::speech {
namespace {

// Builds audio from (seconds, loud) parts: quiet parts are low hiss, loud ones a 300 Hz tone.
std::vector<int16_t> audio(std::initializer_list<std::pair<double, bool>> parts) {
  std::vector<int16_t> out;
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> hiss(-20, 20);
  for (auto [seconds, loud] : parts) {
    const int n = static_cast<int>(seconds * 16000);
    for (int i = 0; i < n; ++i) {
      double v = hiss(rng);
      if (loud) v += 8000 * std::sin(2 * M_PI * 300 * static_cast<double>(out.size()) / 16000);
      out.push_back(static_cast<int16_t>(v));
    }
  }
  return out;
}

std::vector<Utterance> segment(const std::vector<int16_t>& samples, size_t block,
                               SegmenterSettings s = {}) {
  UtteranceSegmenter seg(s);
  std::vector<Utterance> out;
  for (size_t i = 0; i < samples.size(); i += block)
    seg.push(std::span(samples).subspan(i, std::min(block, samples.size() - i)), out);
  seg.finish(out);
  return out;
}

TEST(UtteranceSegmenter, SplitsAtPausesAndKeepsTheSpeechWithPadding) {
  auto in = audio({{1.0, false}, {1.0, true}, {1.5, false}, {0.5, true}, {0.3, false}});
  auto out = segment(in, 4096);
  ASSERT_EQ(out.size(), 2u);
  // Each utterance starts shortly before its speech and holds exactly the input samples there.
  EXPECT_NEAR(out[0].startSample, 16000 - 300 * 16, 4 * 160);
  EXPECT_NEAR(out[1].startSample, 3.5 * 16000 - 300 * 16, 4 * 160);
  for (const Utterance& u : out) {
    ASSERT_LE(u.startSample + static_cast<int64_t>(u.samples.size()),
              static_cast<int64_t>(in.size()));
    EXPECT_TRUE(std::equal(u.samples.begin(), u.samples.end(), in.begin() + u.startSample));
  }
  EXPECT_GE(out[0].startSample + static_cast<int64_t>(out[0].samples.size()), 2 * 16000);
  // The second utterance runs to the end of the audio (shorter than the hang-over).
  EXPECT_EQ(out[1].startSample + static_cast<int64_t>(out[1].samples.size()),
            static_cast<int64_t>(in.size()));
}

TEST(UtteranceSegmenter, BlockSizeDoesNotChangeTheResult) {
  auto in = audio({{0.5, false}, {0.8, true}, {1.0, false}, {0.6, true}});
  auto whole = segment(in, in.size());
  ASSERT_EQ(whole.size(), 2u);
  for (size_t block : {1u, 159u, 161u, 1000u}) {
    auto parts = segment(in, block);
    ASSERT_EQ(parts.size(), whole.size()) << block;
    for (size_t i = 0; i < parts.size(); ++i) {
      EXPECT_EQ(parts[i].startSample, whole[i].startSample) << block;
      EXPECT_EQ(parts[i].samples, whole[i].samples) << block;
    }
  }
}

TEST(UtteranceSegmenter, SilenceAndHissGiveNoUtterance) {
  EXPECT_TRUE(segment(std::vector<int16_t>(32000, 0), 1000).empty());
  EXPECT_TRUE(segment(audio({{3.0, false}}), 1000).empty());
  EXPECT_TRUE(segment({}, 1).empty());
}

TEST(UtteranceSegmenter, LongSpeechIsCutWithoutLosingSamples) {
  SegmenterSettings s;
  s.maximumFrames = 200;  // 2 s
  auto in = audio({{0.2, false}, {5.0, true}});
  auto out = segment(in, 1600, s);
  ASSERT_GE(out.size(), 3u);
  for (size_t i = 0; i + 1 < out.size(); ++i) {
    EXPECT_LE(out[i].samples.size(), 200u * 160);
    EXPECT_EQ(out[i].startSample + static_cast<int64_t>(out[i].samples.size()),
              out[i + 1].startSample);
  }
  EXPECT_EQ(out.back().startSample + static_cast<int64_t>(out.back().samples.size()),
            static_cast<int64_t>(in.size()));
}

}  // namespace
}  // namespace tavolu::speech
