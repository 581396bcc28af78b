#include "platform/linux/frame_pacer.h"

#include <gtest/gtest.h>

namespace tavolu {
namespace {

using namespace std::chrono_literals;
using Clock = FramePacer::Clock;

TEST(FramePacer, DeadlinesFollowThePreviousDeadlineNotTheWakeUpTime) {
  Clock::time_point t0{};
  FramePacer pacer(10ms, t0);
  // Late wake-ups within an interval do not shift the grid.
  EXPECT_EQ(pacer.advance(t0 + 3ms), t0 + 10ms);
  EXPECT_EQ(pacer.advance(t0 + 19ms), t0 + 20ms);
  // A stall of several intervals skips the missed ticks but stays on the grid.
  EXPECT_EQ(pacer.advance(t0 + 75ms), t0 + 70ms);
  EXPECT_EQ(pacer.advance(t0 + 71ms), t0 + 80ms);
}

TEST(FramePacer, AZeroIntervalIsTreatedAsOneMillisecond) {
  Clock::time_point t0{};
  FramePacer pacer(0ms, t0);
  EXPECT_EQ(pacer.advance(t0), t0 + 1ms);
}

}  // namespace
}  // namespace tavolu
