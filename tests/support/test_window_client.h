// Opens a real X11 window (tavolu-test-window) for a test and drives it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace tavolu::test {

class TestWindow {
 public:
  // Options as tavolu-test-window takes them, e.g. {"--title", "Notes", "--width", "300"}.
  explicit TestWindow(std::vector<std::string> options = {});
  uint32_t id() const { return id_; }
  pid_t pid() const { return process_->pid(); }
  // Sends one command and waits until the X server has carried it out.
  void command(const std::string& line);
  // Destroys the window (the helper exits).
  void close();

 private:
  std::unique_ptr<ChildProcess> process_;
  uint32_t id_ = 0;
};

}  // namespace tavolu::test
