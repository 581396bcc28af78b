#include "capture/sinks/full_disk_child.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tavolu::test {

std::string runWithFileSizeLimit(long maxFileBytes, const std::function<std::string()>& body) {
  int out[2];
  if (pipe(out) != 0) return "pipe failed";
  pid_t child = fork();
  if (child < 0) return "fork failed";
  if (child == 0) {
    close(out[0]);
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{static_cast<rlim_t>(maxFileBytes), static_cast<rlim_t>(maxFileBytes)};
    setrlimit(RLIMIT_FSIZE, &limit);
    std::string text = body();
    (void)!write(out[1], text.data(), text.size());
    _exit(0);
  }
  close(out[1]);
  std::string text;
  char buffer[512];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
  close(out[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return text;
}

}  // namespace tavolu::test
