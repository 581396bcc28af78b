// Hands items from one thread to another through a few slots, so that reading and segmenting
// one frame overlaps with refining and encoding the one before. The producer waits while all
// slots are full; either side can stop the other.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

namespace tavolu::segment {

template <typename T>
class Handoff {
 public:
  explicit Handoff(size_t slots) : slots_(slots) {}

  // Waits for a free slot; false when the consumer has stopped.
  bool push(T item) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return stopped_ || items_.size() < slots_; });
    if (stopped_) return false;
    items_.push_back(std::move(item));
    changed_.notify_all();
    return true;
  }
  // The next item, or nothing once the producer has finished (after the last item) or either
  // side has stopped.
  std::optional<T> pop() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return stopped_ || finished_ || !items_.empty(); });
    if (stopped_ || items_.empty()) return std::nullopt;
    T item = std::move(items_.front());
    items_.pop_front();
    changed_.notify_all();
    return item;
  }
  // The next item if one is waiting, without waiting for one.
  std::optional<T> tryPop() {
    std::lock_guard lock(mutex_);
    if (stopped_ || items_.empty()) return std::nullopt;
    T item = std::move(items_.front());
    items_.pop_front();
    changed_.notify_all();
    return item;
  }
  // Adds an item if a slot is free, without waiting; false when none is.
  bool tryPush(T item) {
    std::lock_guard lock(mutex_);
    if (stopped_ || items_.size() >= slots_) return false;
    items_.push_back(std::move(item));
    changed_.notify_all();
    return true;
  }
  // The producer has no more items.
  void finish() {
    std::lock_guard lock(mutex_);
    finished_ = true;
    changed_.notify_all();
  }
  // Either side gives up: pending and future items are dropped, waits end.
  void stop() {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    items_.clear();
    changed_.notify_all();
  }

 private:
  const size_t slots_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<T> items_;
  bool finished_ = false, stopped_ = false;
};

}  // namespace tavolu::segment
