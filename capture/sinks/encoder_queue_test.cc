#include "capture/sinks/encoder_queue.h"

#include <gtest/gtest.h>

#include <thread>

namespace tavolu {
namespace {

TEST(EncoderQueue, RefusesWhenFullOrClosedAndDrainsAfterClose) {
  EncoderQueue<int> queue(2);
  EXPECT_TRUE(queue.tryPush(1));
  EXPECT_TRUE(queue.tryPush(2));
  EXPECT_FALSE(queue.tryPush(3));  // full
  EXPECT_EQ(queue.pop(), 1);
  queue.done();
  EXPECT_TRUE(queue.tryPush(3));
  queue.close();
  EXPECT_FALSE(queue.tryPush(4));
  EXPECT_FALSE(queue.push(4));
  EXPECT_EQ(queue.pop(), 2);
  EXPECT_EQ(queue.pop(), 3);
  EXPECT_EQ(queue.pop(), std::nullopt);
}

TEST(EncoderQueue, WaitingPushAndIdleFollowTheConsumer) {
  EncoderQueue<int> queue(1);
  std::vector<int> seen;
  queue.hold();
  std::thread consumer([&] {
    while (auto item = queue.pop()) {
      seen.push_back(*item);
      queue.done();
    }
  });
  EXPECT_TRUE(queue.tryPush(1));
  EXPECT_FALSE(queue.tryPush(2));  // held: the item stays queued
  queue.release();
  EXPECT_TRUE(queue.push(2));  // waits for the consumer to make room
  queue.waitIdle();
  EXPECT_EQ(seen, (std::vector<int>{1, 2}));
  queue.close();
  consumer.join();
}

}  // namespace
}  // namespace tavolu
