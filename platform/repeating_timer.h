// A repeating timer on an executor, re-armed from its previous deadline so it does not drift.
// Cancelling (or destroying) it guarantees the handler is not called again once the
// cancellation has run on the timer's executor.
#pragma once

#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

namespace tavolu {

class RepeatingTimer {
 public:
  using Clock = std::chrono::steady_clock;

  // Calls `tick` every `interval`, the first time after `firstDelay`.
  template <typename Executor>
  RepeatingTimer(Executor executor, Clock::duration interval, std::function<void()> tick,
                 Clock::duration firstDelay = Clock::duration::zero())
      : state_(std::make_shared<State>(executor, interval, std::move(tick))) {
    state_->timer.expires_at(Clock::now() + firstDelay);
    arm(state_);
  }
  ~RepeatingTimer() { cancel(); }
  RepeatingTimer(const RepeatingTimer&) = delete;
  RepeatingTimer& operator=(const RepeatingTimer&) = delete;

  // Stops the ticks; safe from any thread, idempotent.
  void cancel() {
    if (!state_) return;
    auto state = std::move(state_);
    state->cancelled = true;
    asio::post(state->timer.get_executor(), [state] { state->timer.cancel(); });
  }

 private:
  struct State {
    template <typename Executor>
    State(Executor ex, Clock::duration i, std::function<void()> t)
        : timer(ex), interval(i), tick(std::move(t)) {}
    asio::steady_timer timer;
    Clock::duration interval;
    std::function<void()> tick;
    std::atomic<bool> cancelled{false};
  };

  static void arm(const std::shared_ptr<State>& state) {
    state->timer.async_wait([state](const std::error_code& ec) {
      if (ec || state->cancelled) return;
      state->tick();
      if (state->cancelled) return;
      state->timer.expires_at(state->timer.expiry() + state->interval);
      arm(state);
    });
  }

  std::shared_ptr<State> state_;
};

}  // namespace tavolu
