#include "platform/camera_frame_delivery.h"

#include <gtest/gtest.h>

#include <deque>

namespace tavolu {
namespace {

// A queue the test runs by hand.
struct ManualQueue {
  std::deque<std::function<void()>> jobs;
  void runAll() {
    while (!jobs.empty()) {
      auto job = std::move(jobs.front());
      jobs.pop_front();
      job();
    }
  }
};

struct Recorder {
  ManualQueue queue;
  std::vector<MediaTime> frames;
  int disconnects = 0, errors = 0;
  CameraDelegate delegate() {
    CameraDelegate d;
    d.post = [this](std::function<void()> fn) { queue.jobs.push_back(std::move(fn)); };
    d.onFrame = [this](PixelBufferRef, MediaTime t) { frames.push_back(t); };
    d.onDisconnected = [this] { ++disconnects; };
    d.onRuntimeError = [this](const Error&) { ++errors; };
    return d;
  }
};

TEST(CameraFrameDelivery, DiscardsFramesWhileOneIsWaiting) {
  Recorder r;
  CameraFrameDelivery delivery(r.delegate());
  EXPECT_TRUE(delivery.deliver(PixelBuffer::make(2, 2), MediaTime::make(1, 30)));
  EXPECT_FALSE(delivery.wantsFrame());
  EXPECT_FALSE(delivery.deliver(PixelBuffer::make(2, 2), MediaTime::make(2, 30)));
  EXPECT_EQ(r.queue.jobs.size(), 1u);  // the late frame was not queued
  r.queue.runAll();
  EXPECT_TRUE(delivery.wantsFrame());
  EXPECT_TRUE(delivery.deliver(PixelBuffer::make(2, 2), MediaTime::make(3, 30)));
  r.queue.runAll();
  EXPECT_EQ(r.frames, (std::vector<MediaTime>{MediaTime::make(1, 30), MediaTime::make(3, 30)}));
}

TEST(CameraFrameDelivery, NothingReachesTheDelegateAfterStop) {
  Recorder r;
  CameraFrameDelivery delivery(r.delegate());
  delivery.deliver(PixelBuffer::make(2, 2), MediaTime::make(1, 30));
  delivery.disconnected();
  delivery.runtimeError(cameraError(CameraErrorCode::failed, "x"));
  delivery.stop();  // the three jobs are already queued
  EXPECT_FALSE(delivery.deliver(PixelBuffer::make(2, 2), MediaTime::make(2, 30)));
  delivery.disconnected();
  r.queue.runAll();
  EXPECT_TRUE(r.frames.empty());
  EXPECT_EQ(r.disconnects, 0);
  EXPECT_EQ(r.errors, 0);
}

TEST(CameraErrors, CodesAreToldApart) {
  EXPECT_EQ(cameraErrorCode(cameraError(CameraErrorCode::inUse, "busy")), CameraErrorCode::inUse);
  EXPECT_EQ(cameraErrorCode(Error("Capture", 2, "x")), std::nullopt);
}

}  // namespace
}  // namespace tavolu
