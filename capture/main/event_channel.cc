#include "capture/main/event_channel.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <string>

namespace tavolu {
namespace {
std::atomic<int> outputFd{STDOUT_FILENO};
}

std::mutex& outputLock() {
  static std::mutex lock;
  return lock;
}

void setEventOutputForTesting(int fd) { outputFd = fd; }

void emit(const Json& event) {
  std::string line;
  try {
    // nlohmann's object type is an ordered map, so every level comes out in ascending key order.
    // Text from the system (window titles, device names) is not always valid UTF-8; invalid
    // bytes become U+FFFD instead of the whole event being lost.
    line = event.dump(-1, ' ', false, Json::error_handler_t::replace);
  } catch (const std::exception&) {
    return;  // not serialisable: dropped
  }
  line.push_back('\n');
  std::lock_guard guard(outputLock());
  const char* p = line.data();
  size_t left = line.size();
  while (left > 0) {
    ssize_t n = ::write(outputFd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // reader gone: the line is lost, the process goes on
    p += n;
    left -= static_cast<size_t>(n);
  }
}

Json rect(double x, double y, double width, double height) {
  return Json{{"x", x}, {"y", y}, {"width", std::fabs(width)}, {"height", std::fabs(height)}};
}

}  // namespace tavolu
