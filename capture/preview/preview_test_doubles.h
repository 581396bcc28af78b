// Test doubles of the preview rendering context.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>

#include "capture/preview/preview_frame_encoder.h"

namespace tavolu::test {

// Returns fixed bytes (or nothing), counts its calls, and can be made to wait until released.
class ScriptedRenderer : public PreviewRenderer {
 public:
  std::vector<uint8_t> output{1, 2, 3};  // base64 "AQID"
  bool throws = false;

  std::vector<uint8_t> renderJpeg(const PixelBuffer& frame, int cap, double quality) override {
    std::unique_lock lock(mutex_);
    ++calls_;
    lastCap = cap;
    lastQuality = quality;
    changed_.notify_all();
    changed_.wait(lock, [&] { return !holding_; });
    if (throws) throw std::runtime_error("renderer failed");
    return output;
  }

  // From now on renders wait in renderJpeg until release().
  void hold() {
    std::lock_guard lock(mutex_);
    holding_ = true;
  }
  void release() {
    std::lock_guard lock(mutex_);
    holding_ = false;
    changed_.notify_all();
  }
  // Waits until renderJpeg has been entered `n` times in all.
  void waitForCalls(int n) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return calls_ >= n; });
  }
  int calls() {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  int lastCap = 0;
  double lastQuality = 0;

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int calls_ = 0;
  bool holding_ = false;
};

}  // namespace tavolu::test
