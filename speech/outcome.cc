#include "speech/outcome.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>

namespace tavolu::speech {
namespace {

std::mutex endingLock;  // taken once and never released: the process ends while holding it

void writeAll(int fd, const std::string& text) {
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // a closed pipe: nothing more can be said
    p += n;
    left -= static_cast<size_t>(n);
  }
}

[[noreturn]] void end(int fd, const std::string& text, int status) {
  endingLock.lock();
  writeAll(fd, text);
  // The recognition thread may still be running; skip static destructors it could be using.
  std::_Exit(status);
}

}  // namespace

void ProcessOutcome::succeed(const std::string& json) { end(STDOUT_FILENO, json, 0); }

void ProcessOutcome::fail(const std::string& message) { end(STDERR_FILENO, message, 1); }

}  // namespace tavolu::speech
