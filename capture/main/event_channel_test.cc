#include "capture/main/event_channel.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

namespace tavolu {
namespace {

// Captures what emit writes through a pipe.
class EmitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(pipe(fds_), 0);
    setEventOutputForTesting(fds_[1]);
  }
  void TearDown() override {
    setEventOutputForTesting(STDOUT_FILENO);
    close(fds_[0]);
    if (fds_[1] >= 0) close(fds_[1]);
  }
  std::string drain() {
    close(fds_[1]);
    fds_[1] = -1;
    std::string out;
    char buf[65536];
    ssize_t n;
    while ((n = read(fds_[0], buf, sizeof buf)) > 0) out.append(buf, n);
    return out;
  }
  int fds_[2] = {-1, -1};
};

TEST_F(EmitTest, SortsKeysAtEveryLevelAndWritesOneCompactLine) {
  Json event = {{"video", "/x/a b.mp4"},
                {"event", "finished"},
                {"nested", {{"z", 1}, {"a", {{"y", true}, {"b", 0.5}}}}},
                {"list", {3, "two"}}};
  emit(event);
  EXPECT_EQ(drain(),
            R"({"event":"finished","list":[3,"two"],"nested":{"a":{"b":0.5,"y":true},"z":1},)"
            R"("video":"/x/a b.mp4"})"
            "\n");
}

TEST_F(EmitTest, InvalidUtf8InATextIsReplacedNotLost) {
  emit(Json{{"event", "sources"}, {"name", std::string("Caf\xe9")}});
  EXPECT_EQ(Json::parse(drain())["name"], "Caf\uFFFD");
}

TEST_F(EmitTest, ConcurrentEventsNeverInterleave) {
  const std::string big(100000, 'x');  // larger than a pipe buffer: several write calls
  std::string out;
  std::thread reader([&] {
    char buf[65536];
    ssize_t n;
    while ((n = read(fds_[0], buf, sizeof buf)) > 0) out.append(buf, n);
  });
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t)
    writers.emplace_back([&, t] {
      for (int i = 0; i < 20; ++i) emit(Json{{"event", "frame"}, {"jpeg", big}, {"t", t}});
    });
  for (auto& w : writers) w.join();
  close(fds_[1]);
  fds_[1] = -1;
  reader.join();
  size_t lines = 0, pos = 0;
  while (pos < out.size()) {
    size_t nl = out.find('\n', pos);
    ASSERT_NE(nl, std::string::npos);
    Json parsed = Json::parse(out.substr(pos, nl - pos));
    EXPECT_EQ(parsed["jpeg"].get<std::string>().size(), big.size());
    pos = nl + 1;
    ++lines;
  }
  EXPECT_EQ(lines, 80u);
}

TEST_F(EmitTest, ClosedReaderIsIgnored) {
  close(fds_[0]);
  fds_[0] = open("/dev/null", O_RDONLY);
  signal(SIGPIPE, SIG_IGN);
  emit(Json{{"event", "lost"}});  // returns normally
  SUCCEED();
}

TEST(Rect, ExtentsAreNonNegativeAndOriginUnchanged) {
  EXPECT_EQ(rect(10, 20, -30, 40),
            (Json{{"x", 10.0}, {"y", 20.0}, {"width", 30.0}, {"height", 40.0}}));
}

}  // namespace
}  // namespace tavolu
