#include "platform/media_time.h"

#include <gtest/gtest.h>

namespace tavolu {
namespace {

TEST(MediaTime, ComparesRationalsExactly) {
  struct Case {
    MediaTime a, b;
    std::strong_ordering expected;
  };
  const Case cases[] = {
      {MediaTime::make(1, 30), MediaTime::make(2, 60), std::strong_ordering::equal},
      {MediaTime::make(1, 3), MediaTime::make(333'333'333, MediaTime::kNanos),
       std::strong_ordering::greater},
      {MediaTime::make(-1, 30), MediaTime::make(0, 1), std::strong_ordering::less},
      {MediaTime::invalid(), MediaTime::make(-5, 1), std::strong_ordering::less},
      {MediaTime::invalid(), MediaTime::invalid(), std::strong_ordering::equal},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.a <=> c.b, c.expected) << c.a.value << "/" << c.a.timescale;
}

TEST(MediaTime, ArithmeticIsExactWhenTheTimescalesAllowIt) {
  MediaTime origin = MediaTime::make(3000, 600);
  MediaTime end = origin + MediaTime::make(29, 30);
  EXPECT_EQ(end - origin, MediaTime::make(29, 30));
  EXPECT_EQ((end - MediaTime::make(1, 30)) - origin, MediaTime::make(28, 30));
  // Host-clock times (nanoseconds) and 1/30 s have no common 32-bit timescale: the sum is
  // rounded to the nearest nanosecond.
  MediaTime host = MediaTime::fromNanos(5'000'000'123) + MediaTime::make(1, 30);
  EXPECT_EQ(host.value, 5'033'333'456);
  EXPECT_FALSE((origin + MediaTime::invalid()).valid());
  EXPECT_DOUBLE_EQ(MediaTime::make(3, 2).seconds(), 1.5);
}

TEST(MediaTime, ConvertScaleRoundsToNearestTick) {
  EXPECT_EQ(MediaTime::fromNanos(16'666'667).convertScale(60).value, 1);
  EXPECT_EQ(MediaTime::fromNanos(-16'666'667).convertScale(60).value, -1);
  EXPECT_EQ(MediaTime::fromSeconds(0.5, 48000).value, 24000);
}

}  // namespace
}  // namespace tavolu
