#include "segment/matte/frame_rules.h"

#include <gtest/gtest.h>

#include <cmath>

namespace tavolu::segment {
namespace {

constexpr AffineTransform kRotate90{0, 1, -1, 0, 1080, 0};
constexpr AffineTransform kRotate270{0, -1, 1, 0, 0, 1920};

TEST(MatteHeight, FollowsTheSizeTable) {
  struct Case {
    double w, h;
    AffineTransform t;
    int expected;
  } cases[] = {
      {1920, 1080, {}, 576},
      {640, 480, {}, 768},
      {1920, 1080, kRotate90, 1820},   // 1024 * 1920 / 1080 = 1820.4
      {1920, 1080, kRotate270, 1820},  // negative transformed width still counts by magnitude
      {1280, 722, {}, 576},            // 577.6 -> 577 -> even 576
      {1000, 1, {}, 2},                // ratio below 2 / 1024
      {4000, 3, {}, 2},                // 0.768 -> 0 -> at least 2
      {1024, 3, {}, 2},                // exactly 3 -> even 2
      {1080, 1920, {}, 1820},
      {1920, 1080, {-1, 0, 0, -1, 0, 0}, 576},  // upside down: same size
  };
  for (const Case& c : cases)
    EXPECT_EQ(matteHeight(c.w, c.h, c.t), c.expected) << c.w << "x" << c.h;
}

TEST(MatteHeight, RefusesSizesWithoutAFiniteRatio) {
  EXPECT_EQ(matteHeight(0, 1080, {}), std::nullopt);
  EXPECT_EQ(matteHeight(0, 0, {}), std::nullopt);
  EXPECT_EQ(matteHeight(1, 100000, {}), std::nullopt);
  EXPECT_EQ(matteHeight(64, 1024, {}), 16384);
  EXPECT_EQ(matteHeight(64, 1026, {}), std::nullopt);
}

// Frame times as a source of the given rate delivers them, kept by the limiter.
int keptOutOf(double fps, int frames) {
  RateLimiter limiter;
  int kept = 0;
  for (int i = 0; i < frames; ++i) {
    const double t = i / fps;
    if (!limiter.admits(t)) continue;
    limiter.handled(t);
    ++kept;
  }
  return kept;
}

TEST(RateLimiter, KeepsUpToSixtyFramesPerSecond) {
  EXPECT_EQ(keptOutOf(30, 300), 300);
  EXPECT_EQ(keptOutOf(60, 600), 600);
  EXPECT_EQ(keptOutOf(59.94, 600), 600);
  EXPECT_EQ(keptOutOf(120, 1200), 600);
  EXPECT_EQ(keptOutOf(240, 2400), 600);
}

TEST(RateLimiter, ToleranceAbsorbsRoundedTimes) {
  // 1/60 s in a 1/90000 time base is 1500 ticks; 1/600 timescale rounds to 10 ticks.
  RateLimiter limiter;
  limiter.handled(0);
  EXPECT_TRUE(limiter.admits(1.0 / 60.0 - 0.00005));
  EXPECT_FALSE(limiter.admits(1.0 / 60.0 - 0.0002));
}

}  // namespace
}  // namespace tavolu::segment
