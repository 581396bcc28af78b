// The small one-line modes and the window watcher, as the process entry runs them.
#pragma once

#include <asio/io_context.hpp>
#include <cstdint>
#include <string>

#include "platform/clipboard.h"
#include "platform/window_system.h"

namespace tavolu {

// Prints {"granted":true|false}; returns the exit status (always 0).
int runInputMonitoring(WindowSystem& windows, bool request);

// Prints {"copied":true|false}; returns the exit status (0 when copied, else 1).
int runCopyFile(const std::string& path, Clipboard& clipboard);

// Ticks the front-window watcher every 200 ms on `mainLoop` (the first tick at once) and drains
// standard input on a worker of its own; the process exits with status 0 at end of input.
// Returns when the main loop stops.
void runWindowWatch(WindowSystem& windows, int32_t excludedPid, asio::io_context& mainLoop);

}  // namespace tavolu
