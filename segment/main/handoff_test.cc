#include "segment/main/handoff.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace tavolu::segment {
namespace {

TEST(Handoff, DeliversEveryItemInOrderThenEnds) {
  Handoff<int> handoff(2);
  std::vector<int> got;
  std::thread consumer([&] {
    while (auto item = handoff.pop()) got.push_back(*item);
  });
  for (int i = 0; i < 1000; ++i) ASSERT_TRUE(handoff.push(i));
  handoff.finish();
  consumer.join();
  ASSERT_EQ(got.size(), 1000u);
  for (int i = 0; i < 1000; ++i) EXPECT_EQ(got[i], i);
}

TEST(Handoff, StoppingReleasesABlockedProducer) {
  Handoff<int> handoff(1);
  ASSERT_TRUE(handoff.push(1));
  std::thread consumer([&] { handoff.stop(); });  // as a failing consumer does
  EXPECT_FALSE(handoff.push(2));                  // would wait forever for a free slot
  consumer.join();
  EXPECT_FALSE(handoff.pop());
}

TEST(Handoff, StoppingReleasesAWaitingConsumer) {
  Handoff<int> handoff(2);
  std::optional<int> got = 5;
  std::thread consumer([&] { got = handoff.pop(); });
  handoff.stop();  // as a failing producer does
  consumer.join();
  EXPECT_FALSE(got);
}

TEST(Handoff, TryForms) {
  Handoff<int> handoff(1);
  EXPECT_FALSE(handoff.tryPop());
  EXPECT_TRUE(handoff.tryPush(1));
  EXPECT_FALSE(handoff.tryPush(2));  // full
  EXPECT_EQ(handoff.tryPop(), 1);
  handoff.stop();
  EXPECT_FALSE(handoff.tryPush(3));
}

}  // namespace
}  // namespace tavolu::segment
