// Test helpers for the screen-capture tests: a delegate that records what a stream delivers
// and waits for conditions on it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/screen_stream.h"
#include "platform/serial_queue.h"

namespace tavolu::test {

class RecordingDelegate : public StreamDelegate {
 public:
  struct Entry {
    StreamSample sample;
    StreamOutputType type;
  };

  void streamDidOutput(const StreamSample& sample, StreamOutputType type) override {
    std::lock_guard lock(mutex_);
    entries_.push_back({sample, type});
    changed_.notify_all();
  }
  void streamDidStop(const Error& error) override {
    std::lock_guard lock(mutex_);
    stops_.push_back(error);
    changed_.notify_all();
  }

  // Waits until `done(entries, stops)` holds; false on time-out.
  template <typename Pred>
  bool waitFor(Pred done, std::chrono::seconds timeout = std::chrono::seconds(10)) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return done(entries_, stops_); });
  }
  std::vector<Entry> entries() {
    std::lock_guard lock(mutex_);
    return entries_;
  }
  std::vector<Error> stops() {
    std::lock_guard lock(mutex_);
    return stops_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Entry> entries_;
  std::vector<Error> stops_;
};

// The capture queue of a test: a serial queue the stream posts to.
struct TestQueue {
  SerialQueue queue{"test.capture"};
  QueuePost post() {
    return [this](std::function<void()> fn) { queue.async(std::move(fn)); };
  }
  // Waits until everything posted so far has run.
  void drain() {
    queue.sync([] {});
  }
};

inline std::vector<StreamSample> screenFrames(const std::vector<RecordingDelegate::Entry>& e) {
  std::vector<StreamSample> out;
  for (const auto& x : e)
    if (x.type == StreamOutputType::screen) out.push_back(x.sample);
  return out;
}

// The colour (0xRRGGBB) of a delivered pixel.
inline uint32_t rgbAt(const PixelBuffer& b, int x, int y) {
  const uint8_t* p = b.row(y) + x * 4;
  return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

}  // namespace tavolu::test
