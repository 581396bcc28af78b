// Real recordings with tavolu-capture on the test run's Xvfb and PulseAudio, read back with
// ffprobe.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "tests/support/child_process.h"
#include "tests/support/test_window_client.h"

namespace tavolu::test {
namespace {

using Json = nlohmann::json;

Json probe(const std::string& path) {
  std::string cmd =
      "ffprobe -v error -count_frames -show_format -show_streams -of json '" + path + "'";
  std::string out;
  std::unique_ptr<FILE, decltype(&pclose)> pipe(popen(cmd.c_str(), "r"), &pclose);
  char buf[4096];
  size_t n;
  while (pipe && (n = fread(buf, 1, sizeof buf, pipe.get())) > 0) out.append(buf, n);
  return Json::parse(out, nullptr, false);
}

// A tone on the default output, so the system audio has something to record.
class Tone {
 public:
  Tone() {
    pipe_ = popen(
        "ffmpeg -loglevel error -f lavfi -i sine=frequency=440:duration=20 -f s16le -ac 2 -ar "
        "48000 - "
        "| pacat --format=s16le --channels=2 --rate=48000 2>/dev/null",
        "r");
  }
  ~Tone() {
    if (std::system("pkill -f 'sine=frequency=440:duration=20' >/dev/null 2>&1")) {
    }
    if (pipe_) pclose(pipe_);
  }

 private:
  FILE* pipe_ = nullptr;
};

class Recording : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY") || !std::getenv("PULSE_SERVER"))
      GTEST_SKIP() << "needs the test run's X server and sound server (scripts/test)";
    capture_ =
        std::make_unique<ChildProcess>(std::vector<std::string>{programPath("tavolu-capture")});
  }
  std::string firstDisplay() {
    ChildProcess list({programPath("tavolu-capture"), "--list"});
    auto line = list.readLine(milliseconds(20000));
    return Json::parse(line.value_or("{}"))["sources"][0]["id"];
  }
  void send(const Json& command) { capture_->write(command.dump() + "\n"); }
  // The next event that is not live telemetry or a camera preview; fails the test on time-out.
  Json next() {
    for (;;) {
      auto line = capture_->readLine(milliseconds(30000));
      if (!line) {
        ADD_FAILURE() << "no event; stderr: " << capture_->stderrText();
        return Json::object();
      }
      Json e = Json::parse(*line);
      static const std::set<std::string> live = {"camera-preview", "cursor-shape", "cursor-click",
                                                 "key"};
      if (!live.count(e["event"].get<std::string>())) return e;
    }
  }
  // Starts, waits for "started", lets `during` run, stops, returns "finished".
  Json record(Json start, const std::function<void()>& during) {
    send(start);
    Json prepared = next();
    EXPECT_EQ(prepared["event"], "prepared") << prepared.dump();
    Json started = next();
    EXPECT_EQ(started, (Json{{"event", "started"}, {"timing", "host-clock"}, {"cameraOffset", 0}}));
    during();
    send({{"command", "stop"}});
    return next();
  }
  static Json sidecar(const std::string& video) {
    std::stringstream s;
    s << std::ifstream(video + ".json").rdbuf();
    return Json::parse(s.str(), nullptr, false);
  }
  static void expectVideo(const std::string& path, int width, int height, const Json& finished) {
    Json p = probe(path);
    ASSERT_TRUE(p.is_object()) << path;
    const Json& v = p["streams"][0];
    EXPECT_EQ(v["codec_name"], "h264");
    EXPECT_EQ(v["profile"], "High");
    EXPECT_EQ(v["width"], width);
    EXPECT_EQ(v["height"], height);
    EXPECT_EQ(v["has_b_frames"], 0);
    double duration = std::stod(p["format"]["duration"].get<std::string>());
    EXPECT_NEAR(duration, finished["duration"].get<double>(), 0.002) << path;
  }

  std::unique_ptr<ChildProcess> capture_;
  TempDir dir_;
};

TEST_F(Recording, DisplayWithSystemAudio) {
  TestWindow window({"--title", "Moving", "--width", "300", "--height", "200"});
  Tone tone;
  std::string video = dir_.file("display.mp4");
  Json finished = record(
      {{"command", "start"}, {"source", firstDisplay()}, {"video", video}, {"systemAudio", true}},
      [&] {
        for (int x = 0; x < 10; ++x) {
          window.command("move " + std::to_string(100 + 40 * x) + " 100");
          window.command("color " + std::string(x % 2 ? "ff0000" : "00ff00"));
          usleep(200000);  // the recording's pace, not a synchronisation
        }
      });
  ASSERT_EQ(finished["event"], "finished") << finished.dump();
  EXPECT_EQ(finished, sidecar(video));
  EXPECT_EQ(finished["video"], video);
  EXPECT_EQ(finished["systemAudio"], video + ".system.m4a");
  EXPECT_GT(finished["frames"].get<int>(), 5);
  expectVideo(video, 1920, 1080, finished);
  Json audio = probe(video + ".system.m4a");
  ASSERT_TRUE(audio.is_object());
  EXPECT_EQ(audio["streams"][0]["codec_name"], "aac");
  EXPECT_EQ(audio["streams"][0]["sample_rate"], "48000");
  EXPECT_NEAR(std::stod(audio["format"]["duration"].get<std::string>()),
              finished["duration"].get<double>(), 0.05);

  capture_->closeStdin();
  EXPECT_EQ(capture_->wait(), 0);
}

TEST_F(Recording, OneWindowAndARegion) {
  TestWindow window({"--title", "Recorded", "--width", "401", "--height", "301", "--x", "200"});
  std::string video = dir_.file("window.mp4");
  Json finished = record(
      {{"command", "start"}, {"source", "window:" + std::to_string(window.id())}, {"video", video}},
      [&] {
        for (int i = 0; i < 6; ++i) {
          window.command(std::string("color ") + (i % 2 ? "112233" : "445566"));
          usleep(150000);
        }
      });
  ASSERT_EQ(finished["event"], "finished") << finished.dump();
  expectVideo(video, 400, 300, finished);  // even sizes

  std::string region = dir_.file("region.mp4");
  finished = record({{"command", "start"},
                     {"source", firstDisplay()},
                     {"video", region},
                     {"region", {{"x", 100}, {"y", 50}, {"width", 640}, {"height", 360}}}},
                    [&] {
                      window.command("move 150 60");
                      usleep(400000);
                    });
  ASSERT_EQ(finished["event"], "finished") << finished.dump();
  expectVideo(region, 640, 360, finished);
}

TEST_F(Recording, EndOfInputFinishesTheRecording) {
  std::string video = dir_.file("eof.mp4");
  send({{"command", "start"}, {"source", firstDisplay()}, {"video", video}});
  EXPECT_EQ(next()["event"], "prepared");
  EXPECT_EQ(next()["event"], "started");
  capture_->closeStdin();
  Json finished = next();
  EXPECT_EQ(finished["event"], "finished");
  EXPECT_EQ(capture_->wait(), 0);
  EXPECT_EQ(finished, sidecar(video));
}

TEST_F(Recording, UnusableVideoPathEndsInOneError) {
  send({{"command", "start"}, {"source", firstDisplay()}, {"video", "/nonexistent/dir/x.mp4"}});
  EXPECT_EQ(next()["event"], "prepared");
  Json error = next();
  EXPECT_EQ(error["event"], "error");
  EXPECT_EQ(capture_->wait(), 1);
  EXPECT_EQ(capture_->readToEnd(milliseconds(1000)), "");
}

TEST_F(Recording, ClosedWindowEndsTheRecordingWithAnError) {
  auto window = std::make_unique<TestWindow>(std::vector<std::string>{"--title", "Closing"});
  send({{"command", "start"},
        {"source", "window:" + std::to_string(window->id())},
        {"video", dir_.file("closed.mp4")}});
  EXPECT_EQ(next()["event"], "prepared");
  EXPECT_EQ(next()["event"], "started");
  window->close();
  EXPECT_EQ(next()["event"], "error");
  EXPECT_EQ(capture_->wait(), 1);
}

}  // namespace
}  // namespace tavolu::test
