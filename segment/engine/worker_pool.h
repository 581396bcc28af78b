// A fixed set of threads that share the rows of one big operation, so a frame's inference and
// upsampling use every core. Small jobs run on the calling thread: waking a worker costs more
// than they do.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tavolu::segment {

class WorkerPool {
 public:
  // threads == 0 picks one per core; the calling thread counts as one of them.
  explicit WorkerPool(unsigned threads = 0);
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Number of threads that take part in parallelFor, the caller included.
  unsigned size() const { return static_cast<unsigned>(workers_.size()) + 1; }
  // Runs fn over [0, count) split into contiguous ranges, one per thread, and returns when all
  // are done. `cost` is the work per item in rough multiply-adds; cheap jobs are not split.
  void parallelFor(int count, double cost, const std::function<void(int begin, int end)>& fn);

 private:
  void workerLoop(unsigned index);

  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable wake_, done_;
  const std::function<void(int, int)>* job_ = nullptr;
  int count_ = 0;
  unsigned generation_ = 0;
  unsigned pending_ = 0;
  bool stopping_ = false;
};

}  // namespace tavolu::segment
