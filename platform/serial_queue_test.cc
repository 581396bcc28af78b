#include "platform/serial_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include "platform/repeating_timer.h"

namespace tavolu {
namespace {

TEST(SerialQueue, RunsBlocksInOrderAndNestedSyncDoesNotDeadlock) {
  SerialQueue queue("test");
  std::vector<int> seen;
  for (int i = 0; i < 100; ++i) queue.async([&, i] { seen.push_back(i); });
  queue.sync([&] {
    EXPECT_TRUE(queue.isCurrent());
    queue.sync([&] { seen.push_back(100); });  // from the queue itself: runs inline
  });
  ASSERT_EQ(seen.size(), 101u);
  for (int i = 0; i <= 100; ++i) EXPECT_EQ(seen[i], i);
  EXPECT_FALSE(queue.isCurrent());
}

TEST(RepeatingTimer, TicksUntilCancelledOnItsQueue) {
  SerialQueue queue("timer");
  std::atomic<int> ticks{0};
  std::promise<void> five;
  RepeatingTimer timer(queue.executor(), std::chrono::milliseconds(1), [&] {
    if (++ticks == 5) five.set_value();
  });
  five.get_future().wait();
  queue.sync([&] { timer.cancel(); });
  int after = ticks;
  queue.sync([] {});
  queue.sync([] {});
  EXPECT_EQ(ticks, after);
}

}  // namespace
}  // namespace tavolu
