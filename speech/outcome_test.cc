#include "speech/outcome.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

namespace tavolu::speech {
namespace {

std::string drain(int fd) {
  std::string text;
  char buf[256];
  for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
  ::close(fd);
  return text;
}

// The time-out and a final result can arrive together; the process must end with exactly one
// of them, never both texts or a status that does not match the text.
TEST(ProcessOutcome, TheFirstEndingWinsWhenTwoRace) {
  for (int round = 0; round < 30; ++round) {
    int out[2], err[2];
    ASSERT_EQ(pipe(out), 0);
    ASSERT_EQ(pipe(err), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      dup2(out[1], STDOUT_FILENO);
      dup2(err[1], STDERR_FILENO);
      ProcessOutcome outcome;
      std::thread result([&] { outcome.succeed("[]"); });
      outcome.fail("Speech recognition timed out.");
    }
    ::close(out[1]);
    ::close(err[1]);
    std::string stdoutText = drain(out[0]), stderrText = drain(err[0]);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 0) {
      EXPECT_EQ(stdoutText, "[]");
      EXPECT_EQ(stderrText, "");
    } else {
      EXPECT_EQ(WEXITSTATUS(status), 1);
      EXPECT_EQ(stdoutText, "");
      EXPECT_EQ(stderrText, "Speech recognition timed out.");
    }
  }
}

}  // namespace
}  // namespace tavolu::speech
