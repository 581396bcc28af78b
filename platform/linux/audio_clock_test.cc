#include "platform/linux/audio_clock.h"

#include <gtest/gtest.h>

namespace tavolu {
namespace {

constexpr int64_t kMs = 1'000'000;

TEST(AudioClock, StampsReadTimeMinusLatencyAndJoinsJitteryReads) {
  AudioClock clock(48000);
  // 10 ms buffers (480 frames) read with a few ms of jitter, 25 ms latency each time.
  EXPECT_EQ(clock.stamp(1000 * kMs, 25 * kMs, 480), 975 * kMs);
  EXPECT_EQ(clock.stamp(1013 * kMs, 25 * kMs, 480), 985 * kMs);  // measured 988: joined
  EXPECT_EQ(clock.stamp(1017 * kMs, 25 * kMs, 480), 995 * kMs);  // measured 992: joined
  // A single latency report that is off by a fragment moves nothing.
  EXPECT_EQ(clock.stamp(1030 * kMs, 0, 480), 1005 * kMs);
  EXPECT_EQ(clock.stamp(1040 * kMs, 25 * kMs, 480), 1015 * kMs);
  // Rates whose frame duration is not a whole number of nanoseconds do not accumulate error.
  AudioClock odd(44100);
  for (int64_t i = 0; i < 10000; ++i) {
    int64_t exact = i * 512 * 1'000'000'000 / 44100;
    ASSERT_EQ(odd.stamp(exact + (i % 3) * kMs, 0, 512), exact) << i;
  }
}

TEST(AudioClock, StartsANewRunAfterAJumpALastingOffsetOrAReset) {
  AudioClock clock(48000);
  clock.stamp(1000 * kMs, 0, 480);
  // 300 ms later than the continuation (the source was suspended): at once.
  EXPECT_EQ(clock.stamp(1310 * kMs, 0, 480), 1310 * kMs);
  // 50 ms off for several buffers in a row (drift): the last of them starts a new run.
  int64_t t = 1320;
  for (int i = 1; i < AudioClock::kPersistentBuffers; ++i, t += 10)
    EXPECT_EQ(clock.stamp((t + 50) * kMs, 0, 480), t * kMs);
  EXPECT_EQ(clock.stamp((t + 50) * kMs, 0, 480), (t + 50) * kMs);
  EXPECT_EQ(clock.stamp((t + 61) * kMs, 0, 480), (t + 60) * kMs);
  clock.reset();
  EXPECT_EQ(clock.stamp(1433 * kMs, 0, 480), 1433 * kMs);
  // A negative latency report is taken as none.
  AudioClock other(48000);
  EXPECT_EQ(other.stamp(50 * kMs, -5 * kMs, 480), 50 * kMs);
}

}  // namespace
}  // namespace tavolu
