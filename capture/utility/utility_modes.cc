#include "capture/utility/utility_modes.h"

#include <unistd.h>

#include <cstdio>
#include <thread>

#include "capture/utility/copy_file.h"
#include "capture/utility/window_watch.h"
#include "platform/repeating_timer.h"

namespace tavolu {

int runInputMonitoring(WindowSystem& windows, bool request) {
  std::printf(windows.inputMonitoringAccess(request) ? "{\"granted\":true}\n"
                                                     : "{\"granted\":false}\n");
  return 0;
}

int runCopyFile(const std::string& path, Clipboard& clipboard) {
  bool copied = copyFileToClipboard(path, clipboard);
  std::printf(copied ? "{\"copied\":true}\n" : "{\"copied\":false}\n");
  return copied ? 0 : 1;
}

void runWindowWatch(WindowSystem& windows, int32_t excludedPid, asio::io_context& mainLoop) {
  WindowWatch watch(windows, excludedPid, [](const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  });
  RepeatingTimer timer(mainLoop.get_executor(), std::chrono::milliseconds(200),
                       [&watch] { watch.tick(); });
  // The host ends the watch by closing standard input.
  std::thread([] {
    char buf[4096];
    while (read(STDIN_FILENO, buf, sizeof buf) > 0) {
    }
    std::fflush(stdout);
    _exit(0);
  }).detach();
  mainLoop.run();
}

}  // namespace tavolu
