#include "tests/support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>

extern char** environ;

namespace tavolu::test {

std::string programPath(std::string_view name) {
  return std::string(TAVOLU_BIN_DIR) + "/" + std::string(name);
}

TempDir::TempDir() {
  char tmpl[] = "/tmp/tavolu-test.XXXXXX";
  if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

ChildProcess::ChildProcess(std::vector<std::string> argv, std::map<std::string, std::string> env) {
  ::signal(SIGPIPE, SIG_IGN);
  int inPipe[2], outPipe[2];
  if (pipe2(inPipe, O_CLOEXEC) != 0 || pipe2(outPipe, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");
  char errTmpl[] = "/tmp/tavolu-stderr.XXXXXX";
  int errFd = mkstemp(errTmpl);
  if (errFd < 0) throw std::runtime_error("mkstemp failed");
  errPath_ = errTmpl;

  std::map<std::string, std::string> merged;
  for (char** e = environ; *e; ++e) {
    std::string kv(*e);
    auto eq = kv.find('=');
    if (eq != std::string::npos) merged[kv.substr(0, eq)] = kv.substr(eq + 1);
  }
  for (auto& [k, v] : env) merged[k] = v;
  std::vector<std::string> envStrings;
  for (auto& [k, v] : merged) envStrings.push_back(k + "=" + v);
  std::vector<char*> envp, args;
  for (auto& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);
  for (auto& s : argv) args.push_back(s.data());
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, inPipe[0], 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errFd, 2);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  sigset_t dflt;
  sigemptyset(&dflt);
  sigaddset(&dflt, SIGPIPE);
  posix_spawnattr_setsigdefault(&attr, &dflt);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  int rc = posix_spawn(&pid_, args[0], &actions, &attr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  close(inPipe[0]);
  close(outPipe[1]);
  close(errFd);
  if (rc != 0) throw std::runtime_error("cannot start " + argv[0] + ": " + strerror(rc));
  in_ = inPipe[1];
  out_ = outPipe[0];
}

ChildProcess::~ChildProcess() {
  if (!status_ && pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (in_ >= 0) close(in_);
  if (out_ >= 0) close(out_);
  unlink(errPath_.c_str());
}

void ChildProcess::write(std::string_view text) {
  while (!text.empty() && in_ >= 0) {
    ssize_t n = ::write(in_, text.data(), text.size());
    if (n <= 0) return;
    text.remove_prefix(n);
  }
}

void ChildProcess::closeStdin() {
  if (in_ >= 0) close(in_);
  in_ = -1;
}

void ChildProcess::closeStdout() {
  if (out_ >= 0) close(out_);
  out_ = -1;
  eof_ = true;
}

std::optional<std::string> ChildProcess::readLine(milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto nl = buffered_.find('\n');
    if (nl != std::string::npos) {
      std::string line = buffered_.substr(0, nl);
      buffered_.erase(0, nl + 1);
      return line;
    }
    if (eof_) return std::nullopt;
    auto left =
        std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char chunk[65536];
    ssize_t n = read(out_, chunk, sizeof chunk);
    if (n <= 0)
      eof_ = true;
    else
      buffered_.append(chunk, n);
  }
}

std::string ChildProcess::readToEnd(milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!eof_) {
    auto left =
        std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char chunk[65536];
    ssize_t n = read(out_, chunk, sizeof chunk);
    if (n <= 0)
      eof_ = true;
    else
      buffered_.append(chunk, n);
  }
  return std::exchange(buffered_, {});
}

std::string ChildProcess::stderrText() const {
  std::ifstream f(errPath_);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

std::optional<int> ChildProcess::wait(milliseconds timeout) {
  if (status_) return status_;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int st = 0;
    pid_t r = waitpid(pid_, &st, WNOHANG);
    if (r == pid_) {
      status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
      return status_;
    }
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(milliseconds(5));  // polling a child's exit; no race involved
  }
}

void ChildProcess::signal(int sig) {
  if (!status_) kill(pid_, sig);
}

}  // namespace tavolu::test
