// Test helper: redirects the event channel into a pipe and collects the event lines.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "capture/main/event_channel.h"

namespace tavolu::test {

class EventCapture {
 public:
  EventCapture() {
    if (::pipe(fds_) != 0) throw std::runtime_error("pipe");
    setEventOutputForTesting(fds_[1]);
    reader_ = std::thread([this] { readLoop(); });
  }
  ~EventCapture() {
    setEventOutputForTesting(STDOUT_FILENO);
    ::close(fds_[1]);
    reader_.join();
    ::close(fds_[0]);
  }

  // The events written since the previous call (a marker event makes sure the pipe has been
  // read up to now).
  std::vector<Json> events() {
    std::string marker = "sync-" + std::to_string(++markers_);
    emit(Json{{"event", marker}});
    Json markerEvent{{"event", marker}};
    std::unique_lock lock(mutex_);
    changed_.wait(
        lock, [&] { return std::find(lines_.begin(), lines_.end(), markerEvent) != lines_.end(); });
    // Events written by other threads may have come after the marker; they stay.
    lines_.erase(std::find(lines_.begin(), lines_.end(), markerEvent));
    return std::exchange(lines_, {});
  }
  // Waits (up to 20 s) until an event satisfies `match`; true when one did.
  template <typename Match>
  bool waitFor(Match match) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(20), [&] {
      for (const auto& line : lines_)
        if (match(line)) return true;
      return false;
    });
  }
  // Waits (up to 20 s) until `n` events satisfy `match`; true when they did.
  template <typename Match>
  bool waitForCount(Match match, size_t n) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(20), [&] {
      return static_cast<size_t>(std::count_if(lines_.begin(), lines_.end(), match)) >= n;
    });
  }
  // Forgets the events collected so far.
  void clear() { events(); }

 private:
  void readLoop() {
    std::string pending;
    char buffer[65536];
    ssize_t n;
    while ((n = ::read(fds_[0], buffer, sizeof buffer)) > 0) {
      pending.append(buffer, static_cast<size_t>(n));
      size_t end;
      while ((end = pending.find('\n')) != std::string::npos) {
        Json line = Json::parse(pending.substr(0, end));
        pending.erase(0, end + 1);
        std::lock_guard lock(mutex_);
        lines_.push_back(std::move(line));
        changed_.notify_all();
      }
    }
  }

  int fds_[2];
  int markers_ = 0;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Json> lines_;
  std::thread reader_;
};

}  // namespace tavolu::test
