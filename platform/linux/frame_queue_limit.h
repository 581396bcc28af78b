// Bounds the screen frames waiting between the capture thread and the capture queue: a frame
// that would exceed the depth is dropped instead of queued, so a busy queue never builds up
// latency or memory.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>

namespace tavolu {

class FrameQueueLimit {
 public:
  explicit FrameQueueLimit(int depth) : depth_(std::max(depth, 1)) {}

  // Takes a place for one frame; false (and the frame counts as dropped) when all are taken.
  bool tryEnter() {
    int n = waiting_.load(std::memory_order_relaxed);
    do {
      if (n >= depth_) {
        dropped_.fetch_add(1, std::memory_order_relaxed);
        return false;
      }
    } while (!waiting_.compare_exchange_weak(n, n + 1, std::memory_order_acq_rel));
    return true;
  }
  // Gives the place back once the frame has left the queue.
  void leave() { waiting_.fetch_sub(1, std::memory_order_acq_rel); }

  int waiting() const { return waiting_.load(); }
  uint64_t dropped() const { return dropped_.load(); }

 private:
  const int depth_;
  std::atomic<int> waiting_{0};
  std::atomic<uint64_t> dropped_{0};
};

}  // namespace tavolu
