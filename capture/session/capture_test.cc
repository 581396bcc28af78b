#include "capture/session/capture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "capture/preview/event_capture_for_test.h"
#include "capture/session/fake_screen_capture.h"
#include "capture/utility/fake_window_system.h"
#include "platform/fake_camera.h"

namespace tavolu {
namespace {

namespace fs = std::filesystem;
constexpr int64_t kMs = 1'000'000;

class CaptureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("capture-test-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    screen_.content.displays = {Display{1, 320, 240, {0, 0, 320, 240}}};
    Window w;
    w.id = 7730;
    w.frame = {10, 10, 200, 100};
    w.layer = 0;
    screen_.content.windows = {w};
    cameras_.setDevices({{"cam1", "Test Camera"}});
    base_ = hostTimeNow().value;
  }
  void TearDown() override {
    capture_.reset();
    fs::remove_all(dir_);
  }

  Capture& capture() {
    if (!capture_) {
      CaptureServices s;
      s.screen = &screen_;
      s.windows = &windows_;
      s.cameras = &cameras_;
      s.requestMicrophoneAccess = [this] { return microphoneGranted_; };
      s.sleepSeconds = [this](int64_t n) { sleeps_.push_back(n); };
      s.exitProcess = [this](int status) { exits_.push_back(status); };
      s.writeDiagnostic = [this](const std::string& l) { diagnostics_.push_back(l); };
      capture_ = std::make_unique<Capture>(std::move(s));
    }
    return *capture_;
  }
  std::string path(const std::string& name) { return (dir_ / name).string(); }
  Json startCommand(Json extra = Json::object()) {
    Json c = {{"command", "start"}, {"source", "screen:1"}, {"video", path("rec.mp4")}};
    c.update(extra);
    return c;
  }
  // A screen sample `ms` after the test's start on the host clock.
  StreamSample frame(int64_t ms, int64_t status = 0) {
    StreamSample s;
    s.pts = MediaTime::fromNanos(base_ + ms * kMs);
    s.pixels = PixelBuffer::make(320, 240);
    s.status = status;
    return s;
  }
  StreamSample audio(int64_t ms) {
    StreamSample s;
    s.pts = MediaTime::fromNanos(base_ + ms * kMs);
    AudioSampleBuffer b;
    b.format = AudioFormat::floatInterleaved(48000, 2);
    b.pts = s.pts;
    b.frames = 480;
    b.samples.assign(960, 0.1f);
    s.audio = b;
    return s;
  }
  void deliver(StreamSample s, StreamOutputType t = StreamOutputType::screen) {
    screen_.lastStream->deliver(std::move(s), t);
    capture().queue().sync([] {});
  }
  // Every event of the test so far.
  const std::vector<Json>& events() {
    for (auto& e : events_.events()) seen_.push_back(std::move(e));
    return seen_;
  }
  std::vector<std::string> eventNames() {
    std::vector<std::string> names;
    for (auto& e : events()) names.push_back(e["event"]);
    return names;
  }
  Json lastEvent(const std::string& name) {
    Json found;
    for (auto& e : events())
      if (e["event"] == name) found = e;
    return found;
  }

  fs::path dir_;
  int64_t base_ = 0;
  FakeScreenCapture screen_;
  FakeWindowSystem windows_;
  FakeCameras cameras_;
  bool microphoneGranted_ = true;
  std::vector<int> exits_;
  std::vector<int64_t> sleeps_;
  std::vector<std::string> diagnostics_;
  test::EventCapture events_;
  std::vector<Json> seen_;
  std::unique_ptr<Capture> capture_;
};

TEST_F(CaptureTest, OriginIsTheFirstCompleteFrameAndAudioStartsThere) {
  capture().start(startCommand({{"systemAudio", true}, {"countdown", 9}}));
  auto* stream = screen_.lastStream;
  EXPECT_EQ(stream->outputs,
            (std::vector<StreamOutputType>{StreamOutputType::screen, StreamOutputType::audio}));
  EXPECT_EQ(sleeps_, std::vector<int64_t>{5});
  EXPECT_TRUE(stream->running);

  deliver(frame(0, 1));                         // idle: not recorded
  deliver(audio(10), StreamOutputType::audio);  // before the origin: dropped
  EXPECT_EQ(eventNames(), std::vector<std::string>{"prepared"});
  deliver(frame(30));
  deliver(audio(30), StreamOutputType::audio);  // exactly at the origin: recorded
  deliver(frame(63));
  deliver(frame(63));  // the same time again: ignored by the writer
  capture().stop();

  EXPECT_EQ(eventNames(), (std::vector<std::string>{"prepared", "started", "finished"}));
  Json finished = lastEvent("finished");
  EXPECT_EQ(finished["systemAudio"], path("rec.mp4.system.m4a"));
  EXPECT_EQ(finished["microphoneAudio"], "");
  EXPECT_EQ(finished["camera"], "");
  EXPECT_GE(finished["frames"].get<int>(), 2);
  EXPECT_TRUE(fs::exists(path("rec.mp4")));
  EXPECT_TRUE(fs::exists(path("rec.mp4.system.m4a")));
  std::stringstream sidecar;
  sidecar << std::ifstream(path("rec.mp4.json")).rdbuf();
  EXPECT_EQ(Json::parse(sidecar.str()), finished);
  EXPECT_TRUE(exits_.empty());

  capture().stop();  // a second stop does nothing
  EXPECT_EQ(eventNames().size(), 3u);
}

TEST_F(CaptureTest, RecordingWaitsForTheCameraAndStartsItAtTheOrigin) {
  capture().start(startCommand({{"camera", "cam1"}, {"cameraPath", path("cam.mp4")}}));
  auto feed = cameras_.feed("cam1");
  ASSERT_TRUE(feed);
  deliver(frame(0));  // complete, but no camera frame yet: dropped
  EXPECT_EQ(eventNames(), std::vector<std::string>{"prepared"});
  feed->deliverFrame(PixelBuffer::make(160, 120), MediaTime::fromNanos(base_ + 20 * kMs));
  capture().queue().sync([] {});
  deliver(frame(40));
  feed->deliverFrame(PixelBuffer::make(160, 120), MediaTime::fromNanos(base_ + 60 * kMs));
  capture().queue().sync([] {});
  capture().stop();
  Json finished = lastEvent("finished");
  EXPECT_EQ(finished["camera"], path("cam.mp4"));
  EXPECT_GE(finished["cameraFrames"].get<int>(),
            2);  // the waiting frame at the origin, then its own
  EXPECT_TRUE(feed->stopped());
}

TEST_F(CaptureTest, StartErrorsCarryTheirCodes) {
  struct Case {
    const char* name;
    Json options;
    int code;
    bool microphone = true;
  };
  const Case cases[] = {
      {"no source", {{"source", nullptr}}, 7},
      {"unknown window", {{"source", "window:99"}}, 7},
      {"bad display number", {{"source", "screen:abc"}}, 7},
      {"region too small", {{"region", {{"width", 63}, {"height", 100}}}}, 8},
      {"region past the edge", {{"region", {{"x", 100}}}}, 8},
      {"missing camera", {{"camera", "nope"}}, 4},
      {"microphone refused", {{"microphone", "default"}, {"camera", "cam1"}}, 2, false},
  };
  for (const auto& c : cases) {
    microphoneGranted_ = c.microphone;
    capture_.reset();
    try {
      capture().start(startCommand(c.options));
      ADD_FAILURE() << c.name;
    } catch (const Error& e) {
      EXPECT_EQ(e.domain(), "Capture") << c.name;
      EXPECT_EQ(e.code(), c.code) << c.name;
    }
  }
  EXPECT_EQ(cameras_.openCount(), 0);  // the camera is never opened after a refused microphone

  cameras_.setAuthorization(CameraAuthorization::denied, false);
  capture_.reset();
  try {
    capture().start(startCommand({{"camera", "cam1"}}));
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_EQ(e.code(), 3);
    EXPECT_EQ(e.localizedDescription(), "Enable camera access for Tavolu in System Settings.");
  }
}

TEST_F(CaptureTest, PreparedEventAndDiagnosticLine) {
  capture().start(
      startCommand({{"includeWindows", {7730, 5021}},
                    {"cursorMode", "smooth"},
                    {"keys", true},
                    {"region", {{"x", 10}, {"y", 20}, {"width", 100}, {"height", 80}}}}));
  EXPECT_EQ(diagnostics_, std::vector<std::string>{
                              "[capture] display 1: include [5021, 7730] \u2192 found [7730]\n"});
  EXPECT_EQ(lastEvent("prepared"), (Json{{"event", "prepared"},
                                         {"bounds", rect(10, 20, 100, 80)},
                                         {"cursorTelemetry", true},
                                         {"clickTelemetry", true},
                                         {"keyTelemetry", true},
                                         {"cursorMode", "smooth"}}));
  auto& config = screen_.lastStream->config;
  EXPECT_FALSE(config.showsCursor);
  EXPECT_EQ(config.width, 100);
  EXPECT_EQ(config.height, 80);
  ASSERT_TRUE(config.sourceRect);
  EXPECT_EQ(*config.sourceRect, (Rect{10, 20, 100, 80}));
  EXPECT_EQ(screen_.lastStream->filter.exceptingWindows.size(), 1u);
}

TEST_F(CaptureTest, StopWithoutFramesFailsWithoutSidecar) {
  capture().start(startCommand());
  capture().stop();
  Json error = lastEvent("error");
  EXPECT_EQ(error["message"], "No frames were received. Check the selected source and camera.");
  EXPECT_NE(error["diagnostic"].get<std::string>().find("Code=10"), std::string::npos);
  EXPECT_EQ(exits_, std::vector<int>{1});
  EXPECT_FALSE(fs::exists(path("rec.mp4.json")));
}

TEST_F(CaptureTest, UnusableVideoPathFailsAtTheFirstFrame) {
  capture().start(startCommand({{"video", "/nonexistent-dir/rec.mp4"}}));
  deliver(frame(0));
  EXPECT_EQ(eventNames(), (std::vector<std::string>{"prepared", "error"}));
  EXPECT_EQ(exits_, std::vector<int>{1});
}

TEST_F(CaptureTest, StreamEndingOnItsOwnFailsButNotDuringStop) {
  capture().start(startCommand());
  deliver(frame(0));
  capture().streamDidStop(Error("X11", 3, "The recorded window was closed."));
  EXPECT_EQ(lastEvent("error")["message"], "The recorded window was closed.");
  EXPECT_EQ(exits_, std::vector<int>{1});
}

TEST_F(CaptureTest, PickerChoiceIsReusedAndWindowIsFollowed) {
  screen_.picker = [this] { return screen_.windowFilter(screen_.content.windows[0]); };
  capture().start(startCommand({{"source", "picker"}}));
  EXPECT_EQ(lastEvent("prepared")["cursorTelemetry"], false);
  EXPECT_EQ(lastEvent("prepared")["bounds"], rect(10, 10, 200, 100));
  StreamSample moved = frame(0);
  moved.screenRect = Rect{50, 60, 200, 100};
  deliver(moved);
  capture().queue().sync([&] { EXPECT_EQ(capture().captureBounds(), (Rect{50, 60, 200, 100})); });
  StreamSample thin = frame(40);
  thin.screenRect = Rect{0, 0, 1, 100};  // not a usable rectangle: bounds stay
  deliver(thin);
  capture().queue().sync([&] { EXPECT_EQ(capture().captureBounds(), (Rect{50, 60, 200, 100})); });

  capture().start(startCommand({{"source", "picker"}}));  // while recording: ignored
  EXPECT_EQ(screen_.pickerShown, 1);
  capture().stop();
  capture().start(startCommand({{"source", "picker"}, {"video", path("second.mp4")}}));
  EXPECT_EQ(screen_.pickerShown, 1);  // the first choice is reused
  auto names = eventNames();
  EXPECT_EQ(std::count(names.begin(), names.end(), "prepared"), 2);

  screen_.picker = []() -> ContentFilter {
    throw Error("Capture", 9, "Screen selection was cancelled.");
  };
  capture_.reset();
  try {
    capture().start(startCommand({{"source", "picker"}}));
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_EQ(e.code(), 9);
  }
}

}  // namespace
}  // namespace tavolu
