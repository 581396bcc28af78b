// Deadlines of the capture thread's frame timer: each deadline is one interval after the
// previous one, so the rate does not drift; deadlines that have already passed when the
// thread gets to them are skipped instead of run in a burst.
#pragma once

#include <chrono>

namespace tavolu {

class FramePacer {
 public:
  using Clock = std::chrono::steady_clock;

  FramePacer(Clock::duration interval, Clock::time_point first)
      : interval_(interval > Clock::duration::zero() ? interval : std::chrono::milliseconds(1)),
        deadline_(first) {}

  Clock::time_point deadline() const { return deadline_; }

  // Moves to the next deadline after the current one that is not already behind `now` by a
  // whole interval.
  Clock::time_point advance(Clock::time_point now) {
    deadline_ += interval_;
    if (now - deadline_ >= interval_) deadline_ += ((now - deadline_) / interval_) * interval_;
    return deadline_;
  }

 private:
  Clock::duration interval_;
  Clock::time_point deadline_;
};

}  // namespace tavolu
