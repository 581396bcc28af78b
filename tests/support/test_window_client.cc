#include "tests/support/test_window_client.h"

#include <stdexcept>

namespace tavolu::test {

TestWindow::TestWindow(std::vector<std::string> options) {
  options.insert(options.begin(), programPath("tavolu-test-window"));
  process_ = std::make_unique<ChildProcess>(options);
  auto line = process_->readLine(milliseconds(10000));
  if (!line || line->rfind("ready ", 0) != 0)
    throw std::runtime_error("test window did not open: " + process_->stderrText());
  id_ = static_cast<uint32_t>(std::stoul(line->substr(6)));
}

void TestWindow::command(const std::string& line) {
  process_->write(line + "\n");
  auto ack = process_->readLine(milliseconds(10000));
  if (!ack || *ack != "ok") throw std::runtime_error("test window did not answer: " + line);
}

void TestWindow::close() {
  process_->closeStdin();
  process_->wait(milliseconds(5000));
}

}  // namespace tavolu::test
