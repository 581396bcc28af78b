#include "segment/engine/worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

namespace tavolu::segment {
namespace {

TEST(WorkerPool, CoversEveryItemExactlyOnceOnSeveralThreads) {
  WorkerPool pool(3);
  for (int count : {1, 2, 3, 7, 1000}) {
    std::vector<std::atomic<int>> seen(count);
    std::mutex m;
    std::set<std::thread::id> threads;
    pool.parallelFor(count, 1e6, [&](int begin, int end) {
      for (int i = begin; i < end; ++i) ++seen[i];
      std::lock_guard lock(m);
      threads.insert(std::this_thread::get_id());
    });
    for (int i = 0; i < count; ++i) EXPECT_EQ(seen[i], 1) << count << " " << i;
    if (count >= 3) {
      EXPECT_EQ(threads.size(), 3u);
    }
  }
}

TEST(WorkerPool, RunsCheapJobsOnTheCaller) {
  WorkerPool pool(2);
  std::thread::id ran;
  pool.parallelFor(10, 1, [&](int begin, int end) {
    EXPECT_EQ(begin, 0);
    EXPECT_EQ(end, 10);
    ran = std::this_thread::get_id();
  });
  EXPECT_EQ(ran, std::this_thread::get_id());
  pool.parallelFor(0, 1e9, [&](int, int) { ADD_FAILURE() << "nothing to do"; });
}

}  // namespace
}  // namespace tavolu::segment
