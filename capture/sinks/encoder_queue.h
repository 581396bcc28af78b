// The bounded hand-over between a caller that must never wait (the capture queue) and the
// encoder thread of a sink: a full queue refuses the item, which the sink counts as dropped.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>

namespace tavolu {

template <typename T>
class EncoderQueue {
 public:
  explicit EncoderQueue(size_t capacity) : capacity_(capacity ? capacity : 1) {}

  // Adds the item unless the queue is full or closed; never waits.
  bool tryPush(T item) {
    std::lock_guard lock(mutex_);
    if (closed_ || items_.size() >= capacity_) return false;
    items_.push_back(std::move(item));
    changed_.notify_all();
    return true;
  }

  // Adds the item, waiting for room; false when the queue is closed.
  bool push(T item) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return closed_ || items_.size() < capacity_; });
    if (closed_) return false;
    items_.push_back(std::move(item));
    changed_.notify_all();
    return true;
  }

  // The next item, waiting for one; nothing once the queue is closed and empty. While
  // held, items stay queued.
  std::optional<T> pop() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return (!held_ && !items_.empty()) || (closed_ && items_.empty()); });
    if (items_.empty()) return std::nullopt;
    T item = std::move(items_.front());
    items_.pop_front();
    ++inFlight_;
    changed_.notify_all();
    return item;
  }

  // The consumer reports that it has handled the item it popped last.
  void done() {
    std::lock_guard lock(mutex_);
    if (inFlight_) --inFlight_;
    changed_.notify_all();
  }

  // No more pushes; pop drains what is queued, then returns nothing.
  void close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    held_ = false;
    changed_.notify_all();
  }

  // Drops what is queued (for a sink released without finishing).
  void clear() {
    std::lock_guard lock(mutex_);
    items_.clear();
    changed_.notify_all();
  }

  // Holding stops the consumer from taking items, so a full queue can be produced on demand
  // (tests) ; release lets it continue.
  void hold() {
    std::lock_guard lock(mutex_);
    held_ = true;
  }
  void release() {
    std::lock_guard lock(mutex_);
    held_ = false;
    changed_.notify_all();
  }

  // Waits until every item pushed so far has been popped and handled.
  void waitIdle() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return items_.empty() && inFlight_ == 0; });
  }

  size_t capacity() const { return capacity_; }
  size_t size() const {
    std::lock_guard lock(mutex_);
    return items_.size();
  }

 private:
  const size_t capacity_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<T> items_;
  size_t inFlight_ = 0;
  bool closed_ = false;
  bool held_ = false;
};

}  // namespace tavolu
