// The front-window watcher: prints {"event":"front",...} whenever the front-most ordinary
// window, or anything reported about it, changes.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/window_system.h"

namespace tavolu {

// The first window, front to back, that counts as an application's front window: layer 0,
// not owned by `excludedPid`, visible (alpha above 0.01) and larger than 120 x 80.
std::optional<Window> frontWindow(const std::vector<Window>& frontToBack, int32_t excludedPid);

// The watcher's line for a front window (or for none), serialised with sorted keys.
std::string frontLine(const std::optional<Window>& front);

class WindowWatch {
 public:
  using Print = std::function<void(const std::string& line)>;
  WindowWatch(WindowSystem& windows, int32_t excludedPid, Print print)
      : windows_(windows), excludedPid_(excludedPid), print_(std::move(print)) {}

  // One look at the window list; prints a line only when it differs from the last one.
  void tick();

 private:
  WindowSystem& windows_;
  int32_t excludedPid_;
  Print print_;
  std::string lastLine_;
};

}  // namespace tavolu
