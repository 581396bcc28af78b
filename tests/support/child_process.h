// Runs a program as a child with its standard input and output on pipes, the way the host
// application does, so tests can write commands and read events line by line.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavolu::test {

using std::chrono::milliseconds;

// Path of a built program, e.g. programPath("tavolu-capture").
std::string programPath(std::string_view name);

// A fresh folder under /tmp, removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }

 private:
  std::string path_;
};

class ChildProcess {
 public:
  // Starts argv[0] (a path) with the given arguments; `env` entries are added to (or replace
  // those of) this process's environment.
  explicit ChildProcess(std::vector<std::string> argv, std::map<std::string, std::string> env = {});
  ~ChildProcess();  // kills the child if it still runs
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  // Writes to the child's standard input (a failed write is ignored).
  void write(std::string_view text);
  void closeStdin();
  void closeStdout();
  // The next line of standard output without its line feed, or nothing on time-out or end.
  std::optional<std::string> readLine(milliseconds timeout = milliseconds(10000));
  // Everything the child writes to standard output until it closes it (or the time-out).
  std::string readToEnd(milliseconds timeout = milliseconds(10000));
  // Standard error so far (the child writes it to a file).
  std::string stderrText() const;
  // The exit status (or 128 + signal), or nothing if the child is still running after timeout.
  std::optional<int> wait(milliseconds timeout = milliseconds(10000));
  void signal(int sig);

 private:
  pid_t pid_ = -1;
  int in_ = -1, out_ = -1;
  std::string errPath_;
  std::string buffered_;
  bool eof_ = false;
  std::optional<int> status_;
};

}  // namespace tavolu::test
