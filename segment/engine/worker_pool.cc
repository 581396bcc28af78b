#include "segment/engine/worker_pool.h"

#include <algorithm>

namespace tavolu::segment {

namespace {
// Below this much work the hand-off to another thread is not worth it: waking a worker costs
// tens of microseconds, more when the cores are shared with other processes.
constexpr double kMinParallelCost = 250000;

std::pair<int, int> share(int count, unsigned parts, unsigned index) {
  int begin = static_cast<int>(static_cast<long long>(count) * index / parts);
  int end = static_cast<int>(static_cast<long long>(count) * (index + 1) / parts);
  return {begin, end};
}
}  // namespace

WorkerPool::WorkerPool(unsigned threads) {
  if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
  for (unsigned i = 1; i < threads; ++i) workers_.emplace_back([this, i] { workerLoop(i); });
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (auto& t : workers_) t.join();
}

void WorkerPool::parallelFor(int count, double cost,
                             const std::function<void(int begin, int end)>& fn) {
  if (count <= 0) return;
  if (workers_.empty() || count < 2 || cost * count < kMinParallelCost) {
    fn(0, count);
    return;
  }
  {
    std::lock_guard lock(mutex_);
    job_ = &fn;
    count_ = count;
    pending_ = static_cast<unsigned>(workers_.size());
    ++generation_;
  }
  wake_.notify_all();
  auto [begin, end] = share(count, size(), 0);
  fn(begin, end);
  std::unique_lock lock(mutex_);
  done_.wait(lock, [this] { return pending_ == 0; });
  job_ = nullptr;
}

void WorkerPool::workerLoop(unsigned index) {
  unsigned seen = 0;
  for (;;) {
    const std::function<void(int, int)>* job;
    int count;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
      if (stopping_) return;
      seen = generation_;
      job = job_;
      count = count_;
    }
    auto [begin, end] = share(count, size(), index);
    if (begin < end) (*job)(begin, end);
    {
      std::lock_guard lock(mutex_);
      if (--pending_ == 0) done_.notify_one();
    }
  }
}

}  // namespace tavolu::segment
