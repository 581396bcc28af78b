#include "capture/main/command_channel.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <mutex>
#include <vector>

namespace tavolu {
namespace {

class FakeRecorder : public Recorder {
 public:
  std::mutex mutex;
  std::vector<std::string> calls;
  bool failStart = false, done = true, stream = false;

  void start(const Json& c) override {
    record("start " + c.value("source", ""));
    if (failStart) throw Error("Capture", 7, "no source");
  }
  void stop() override { record("stop"); }
  void fail(const Error& e) override { record("fail " + std::to_string(e.code())); }
  void waitForStop() override {}
  bool screenDone() const override { return done; }
  bool hasStream() const override { return stream; }

 private:
  void record(std::string s) {
    std::lock_guard lock(mutex);
    calls.push_back(std::move(s));
  }
};

// Feeds `input` through a pipe to readCommands and waits for every task.
std::vector<std::string> run(FakeRecorder& recorder, const std::string& input, int* exitStatus) {
  int fds[2];
  EXPECT_EQ(pipe(fds), 0);
  EXPECT_EQ(write(fds[1], input.data(), input.size()), ssize_t(input.size()));
  close(fds[1]);
  asio::thread_pool tasks(1);  // one worker: tasks run in line order, so the test can compare
  CommandChannel channel(recorder, tasks, [&](int s) { *exitStatus = s; });
  channel.readCommands(fds[0]);
  tasks.join();
  close(fds[0]);
  return recorder.calls;
}

TEST(CommandChannel, OnlyObjectsWithAKnownCommandDoAnything) {
  FakeRecorder recorder;
  int status = -1;
  auto calls = run(recorder,
                   "\n"
                   "[1,2]\n"
                   "42\n"
                   "plain text\n"
                   "{\"command\":\"START\"}\n"
                   "{\"command\":1}\n"
                   "{\"source\":\"screen:1\"}\n"
                   "{\"command\":\"start\",\"source\":\"screen:1\"}\r\n"
                   "{\"command\":\"stop\"}",  // last line without a line feed
                   &status);
  EXPECT_EQ(calls, (std::vector<std::string>{"start screen:1", "stop"}));
  EXPECT_EQ(status, 0);
}

TEST(CommandChannel, FailedStartIsReportedThroughFail) {
  FakeRecorder recorder;
  recorder.failStart = true;
  int status = -1;
  auto calls = run(recorder, "{\"command\":\"start\"}\n", &status);
  EXPECT_EQ(calls, (std::vector<std::string>{"start ", "fail 7"}));
}

TEST(CommandChannel, EndOfInputStopsARunningRecordingFirst) {
  struct Case {
    bool done, stream;
    std::vector<std::string> calls;
  };
  const Case cases[] = {
      {true, false, {}},
      {false, false, {}},  // still preparing: nothing to stop
      {false, true, {"stop"}},
  };
  for (const auto& c : cases) {
    FakeRecorder recorder;
    recorder.done = c.done;
    recorder.stream = c.stream;
    int status = -1;
    EXPECT_EQ(run(recorder, "", &status), c.calls);
    EXPECT_EQ(status, 0);
  }
}

}  // namespace
}  // namespace tavolu
