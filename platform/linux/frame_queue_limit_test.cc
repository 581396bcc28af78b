#include "platform/linux/frame_queue_limit.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace tavolu {
namespace {

TEST(FrameQueueLimit, DropsOnceDepthFramesWaitAndTakesMoreWhenOneLeaves) {
  FrameQueueLimit limit(6);
  for (int i = 0; i < 6; ++i) EXPECT_TRUE(limit.tryEnter());
  EXPECT_FALSE(limit.tryEnter());
  EXPECT_FALSE(limit.tryEnter());
  EXPECT_EQ(limit.dropped(), 2u);
  limit.leave();
  EXPECT_TRUE(limit.tryEnter());
  EXPECT_EQ(limit.waiting(), 6);
}

TEST(FrameQueueLimit, ADepthBelowOneStillPassesOneFrame) {
  FrameQueueLimit limit(0);
  EXPECT_TRUE(limit.tryEnter());
  EXPECT_FALSE(limit.tryEnter());
}

TEST(FrameQueueLimit, NeverExceedsTheDepthUnderContention) {
  FrameQueueLimit limit(3);
  std::atomic<int> peak{0}, inside{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        if (!limit.tryEnter()) continue;
        int now = ++inside;
        int p = peak.load();
        while (now > p && !peak.compare_exchange_weak(p, now)) {
        }
        --inside;
        limit.leave();
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_LE(peak.load(), 3);
  EXPECT_EQ(limit.waiting(), 0);
}

}  // namespace
}  // namespace tavolu
