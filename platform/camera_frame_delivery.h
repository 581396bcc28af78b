// Hands a camera's frames and notifications to its delegate's queue: one frame in flight at a
// time (late frames are discarded, never queued) and nothing at all once stopped.
#pragma once

#include <atomic>
#include <memory>

#include "platform/camera.h"

namespace tavolu {

class CameraFrameDelivery {
 public:
  explicit CameraFrameDelivery(CameraDelegate delegate)
      : state_(std::make_shared<State>(std::move(delegate))) {}
  CameraFrameDelivery(const CameraFrameDelivery&) = delete;
  CameraFrameDelivery& operator=(const CameraFrameDelivery&) = delete;

  // Whether a new frame would be taken now (lets producers skip decoding frames that would be
  // discarded).
  bool wantsFrame() const { return !state_->stopped && !state_->inFlight; }

  // Posts the frame unless the previous one is still waiting or being handled; returns whether
  // it was posted.
  bool deliver(PixelBufferRef frame, MediaTime time) {
    if (state_->stopped || state_->inFlight.exchange(true)) return false;
    auto state = state_;
    state->delegate.post([state, frame = std::move(frame), time] {
      if (!state->stopped && state->delegate.onFrame) state->delegate.onFrame(frame, time);
      state->inFlight = false;
    });
    return true;
  }

  // Posts the disconnection notification.
  void disconnected() {
    auto state = state_;
    if (state->stopped) return;
    state->delegate.post([state] {
      if (!state->stopped && state->delegate.onDisconnected) state->delegate.onDisconnected();
    });
  }

  // Posts a runtime error.
  void runtimeError(const Error& error) {
    auto state = state_;
    if (state->stopped) return;
    state->delegate.post([state, error] {
      if (!state->stopped && state->delegate.onRuntimeError) state->delegate.onRuntimeError(error);
    });
  }

  // From now on nothing is posted, and callbacks already posted do nothing when they run.
  void stop() { state_->stopped = true; }

 private:
  struct State {
    explicit State(CameraDelegate d) : delegate(std::move(d)) {}
    CameraDelegate delegate;
    std::atomic<bool> inFlight{false};
    std::atomic<bool> stopped{false};
  };
  std::shared_ptr<State> state_;
};

}  // namespace tavolu
