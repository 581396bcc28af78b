#include "capture/main/command_channel.h"

#include <unistd.h>

#include <asio/post.hpp>
#include <cerrno>
#include <string>

namespace tavolu {

void CommandChannel::readCommands(int fd) {
  std::string pending;
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    pending.append(buf, static_cast<size_t>(n));
    size_t start = 0, nl;
    while ((nl = pending.find('\n', start)) != std::string::npos) {
      dispatch(pending.substr(start, nl - start));
      start = nl + 1;
    }
    pending.erase(0, start);
  }
  if (!pending.empty()) dispatch(pending);  // a last line without its line feed
  asio::post(tasks_, [this] { finishInput(); });
}

void CommandChannel::dispatch(const std::string& raw) {
  std::string line = raw;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  Json command = Json::parse(line, nullptr, /*allow_exceptions=*/false);
  if (!command.is_object()) return;  // not JSON, or not an object: ignored
  asio::post(tasks_, [this, command = std::move(command)] { runCommand(command); });
}

void CommandChannel::runCommand(const Json& command) {
  auto it = command.find("command");
  if (it == command.end() || !it->is_string()) return;
  const std::string& name = it->get_ref<const std::string&>();
  if (name == "stop") {
    recorder_.stop();
  } else if (name == "start") {
    try {
      recorder_.start(command);
    } catch (const Error& e) {
      recorder_.fail(e);
    } catch (const std::exception& e) {
      recorder_.fail(Error("Capture", 1, e.what()));
    }
  }
}

void CommandChannel::finishInput() {
  // A stop under way (from a "stop" line just before the end) completes its files and its
  // "finished" event before the process ends.
  recorder_.waitForStop();
  if (!recorder_.screenDone() && recorder_.hasStream()) {
    recorder_.stop();
    recorder_.waitForStop();
  }
  exit_(0);
}

}  // namespace tavolu
