// Input telemetry against a real X server: a private Xvfb per test, real pointer and key input
// from xdotool, layouts switched with setxkbmap. First the telemetry pieces in this process,
// then whole recordings made with tavolu-capture.
#include <gtest/gtest.h>
#include <signal.h>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture/telemetry/input_telemetry.h"
#include "platform/linux/x11_input.h"
#include "tests/support/child_process.h"

namespace tavolu {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;
using test::programPath;
using test::TempDir;

// An X server of this test's own, so its input and layout changes disturb no other test.
class PrivateXServer {
 public:
  PrivateXServer()
      : xvfb_({"/usr/bin/Xvfb", "-displayfd", "1",          "-screen", "0",          "1280x800x24",
               "-nolisten",     "tcp",        "+extension", "XFIXES",  "+extension", "XTEST",
               "+extension",    "RANDR",      "+extension", "DAMAGE",  "+extension", "COMPOSITE",
               "+extension",    "MIT-SHM",    "-noreset"}) {
    auto number = xvfb_.readLine(20s);
    if (number) display_ = ":" + *number;
  }
  ~PrivateXServer() {
    xvfb_.signal(SIGTERM);
    xvfb_.wait();
  }
  const std::string& display() const { return display_; }
  std::string log() const { return xvfb_.stderrText(); }

  // Runs an X client (xdotool, setxkbmap) on this server and waits for it.
  int run(std::vector<std::string> argv) const {
    ChildProcess child(std::move(argv), {{"DISPLAY", display_}});
    return child.wait(20s).value_or(-1);
  }

 private:
  ChildProcess xvfb_;
  std::string display_;
};

class RecordingContext : public TelemetryContext {
 public:
  bool accepting() const override { return true; }
  std::optional<MediaTime> origin() const override { return origin_; }
  Rect captureBounds() const override { return {100, 100, 800, 400}; }
  MediaTime origin_ = hostTimeNow();
};

class InputTelemetryOnX11 : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(x_.display().empty()) << "Xvfb did not start: " << x_.log();
    input_ = X11Input::open(x_.display().c_str());
    telemetry_ = std::make_unique<InputTelemetry>(context_, queue_, mainLoop_, input_,
                                                  [this](const Json& e) { record(e); });
  }
  void TearDown() override {
    telemetry_.reset();
    work_.reset();
    mainLoop_.stop();
    mainThread_.join();
  }

  void startAll() {
    telemetry_->startClickTracking(true, true);
    telemetry_->buildKeyLabels();
    telemetry_->startKeyTracking();
  }
  void xdotool(std::vector<std::string> args) {
    args.insert(args.begin(), "/usr/bin/xdotool");
    ASSERT_EQ(x_.run(std::move(args)), 0);
  }
  void record(const Json& e) {
    std::lock_guard lock(mutex_);
    events_.push_back(e);
    arrived_.notify_all();
  }
  // The events of one kind once `count` of them have come (or after the time-out).
  std::vector<Json> waitFor(const std::string& kind, size_t count) {
    std::unique_lock lock(mutex_);
    std::vector<Json> found;
    arrived_.wait_for(lock, 20s, [&] {
      found.clear();
      for (const auto& e : events_)
        if (e["event"] == kind) found.push_back(e);
      return found.size() >= count;
    });
    return found;
  }
  static std::vector<Json> keysOf(const std::vector<Json>& events) {
    std::vector<Json> keys;
    for (const auto& e : events) keys.push_back(e.contains("keys") ? e["keys"] : Json());
    return keys;
  }

  PrivateXServer x_;
  RecordingContext context_;
  SerialQueue queue_{"app.tavolu.capture"};
  asio::io_context mainLoop_;
  asio::executor_work_guard<asio::io_context::executor_type> work_{mainLoop_.get_executor()};
  std::thread mainThread_{[this] { mainLoop_.run(); }};
  std::shared_ptr<X11Input> input_;
  std::unique_ptr<InputTelemetry> telemetry_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<Json> events_;
};

TEST_F(InputTelemetryOnX11, ClicksInsideTheAreaOnly) {
  xdotool({"mousemove", "20", "20"});
  startAll();
  // Outside, then inside with the left button, then inside with the right one; each press is
  // held long enough for the 8 ms sampler to see it.
  xdotool({"mousedown", "1", "sleep", "0.2", "mouseup", "1"});
  xdotool({"mousemove", "300", "200", "mousedown", "1", "sleep", "0.2", "mouseup", "1"});
  xdotool({"mousemove", "500", "400", "mousedown", "3", "sleep", "0.2", "mouseup", "3"});
  auto clicks = waitFor("cursor-click", 2);
  ASSERT_EQ(clicks.size(), 2u);
  EXPECT_EQ(clicks[0]["button"], 0);
  EXPECT_DOUBLE_EQ(clicks[0]["x"].get<double>(), 0.25);
  EXPECT_DOUBLE_EQ(clicks[0]["y"].get<double>(), 0.25);
  EXPECT_EQ(clicks[1]["button"], 1);
  EXPECT_DOUBLE_EQ(clicks[1]["x"].get<double>(), 0.5);
  EXPECT_DOUBLE_EQ(clicks[1]["y"].get<double>(), 0.75);
  EXPECT_LT(clicks[0]["t"].get<double>(), clicks[1]["t"].get<double>());

  // The cursor did not change: one shape, at the pointer's place when it was sent.
  auto shapes = waitFor("cursor-shape", 1);
  ASSERT_EQ(shapes.size(), 1u);
  EXPECT_GT(shapes[0]["width"].get<double>(), 0);
  EXPECT_FALSE(shapes[0]["image"].get<std::string>().empty());
}

TEST_F(InputTelemetryOnX11, ShortcutsAreSpelledOutAndTypingStaysAnonymous) {
  startAll();
  xdotool({"keydown", "ctrl+c", "sleep", "0.2", "keyup", "ctrl+c"});
  xdotool({"keydown", "ctrl+shift+z", "sleep", "0.2", "keyup", "ctrl+shift+z"});
  xdotool({"type", "--delay", "200", "hello"});
  xdotool({"keydown", "a", "sleep", "0.3", "keyup", "a"});  // held: reported once
  auto keys = waitFor("key", 8);
  const std::vector<Json> expected{
      Json{"⌃", "C"}, Json{"⌃", "⇧", "Z"}, Json(), Json(), Json(), Json(), Json(), Json()};
  EXPECT_EQ(keysOf(keys), expected);
  for (const auto& e : keys) {
    if (!e.contains("keys")) {
      EXPECT_EQ(e.size(), 2u) << e.dump();  // "event" and "t" only
    }
  }
}

TEST_F(InputTelemetryOnX11, LabelsFollowTheLayoutInUseAtStart) {
  ASSERT_EQ(x_.run({"/usr/bin/setxkbmap", "de"}), 0);
  startAll();
  EXPECT_EQ(telemetry_->keyLabels().at(6), "Y");  // the key at code 6 types "y" on German
  EXPECT_EQ(telemetry_->keyLabels().at(16), "Z");
  EXPECT_EQ(telemetry_->keyLabels().at(41), "Ö");
  EXPECT_EQ(telemetry_->keyLabels().at(49), "Space");
  // Control + the key at code 6 (xdotool finds "y" there on this layout).
  xdotool({"keydown", "ctrl+y", "sleep", "0.2", "keyup", "ctrl+y"});
  auto keys = waitFor("key", 1);
  ASSERT_EQ(keys.size(), 1u);
  EXPECT_EQ(keys[0]["keys"], (Json{"⌃", "Y"}));

  // Back to US: the next start labels the same key "Z".
  ASSERT_EQ(x_.run({"/usr/bin/setxkbmap", "us"}), 0);
  telemetry_->buildKeyLabels();
  EXPECT_EQ(telemetry_->keyLabels().at(6), "Z");
}

// Whole recordings: tavolu-capture records a region of the private display while xdotool
// clicks and types; the events between "started" and "finished" are checked in order and
// against the video's timeline.
class RecordingTelemetry : public ::testing::Test {
 protected:
  static constexpr int kLeft = 100, kTop = 100, kWidth = 800, kHeight = 400;

  void SetUp() override {
    ASSERT_FALSE(x_.display().empty()) << "Xvfb did not start: " << x_.log();
    capture_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{programPath("tavolu-capture")},
        std::map<std::string, std::string>{{"DISPLAY", x_.display()}});
  }

  std::string firstDisplay() {
    ChildProcess list({programPath("tavolu-capture"), "--list"}, {{"DISPLAY", x_.display()}});
    auto line = list.readLine(20s);
    Json sources = Json::parse(line.value_or("{}"), nullptr, false);
    if (!sources.is_object() || !sources.contains("sources") || sources["sources"].empty())
      return "";
    return sources["sources"][0]["id"];
  }
  void xdotool(std::vector<std::string> args) {
    args.insert(args.begin(), "/usr/bin/xdotool");
    ASSERT_EQ(x_.run(std::move(args)), 0);
  }
  // Every event up to and including the first of kind `last`.
  std::vector<Json> readThrough(const std::string& last) {
    std::vector<Json> events;
    for (;;) {
      auto line = capture_->readLine(30s);
      if (!line) {
        ADD_FAILURE() << "no \"" << last << "\" event; stderr: " << capture_->stderrText();
        return events;
      }
      events.push_back(Json::parse(*line, nullptr, false));
      if (events.back()["event"] == last || events.back()["event"] == "error") return events;
    }
  }
  // Records the region with the given options while `during` runs; returns every event from
  // "prepared" to "finished".
  std::vector<Json> record(Json options, const std::function<void()>& during) {
    std::string source = firstDisplay();
    EXPECT_FALSE(source.empty());
    options["command"] = "start";
    options["source"] = source;
    options["video"] = video_;
    options["region"] = {{"x", kLeft}, {"y", kTop}, {"width", kWidth}, {"height", kHeight}};
    capture_->write(options.dump() + "\n");
    auto events = readThrough("started");
    if (events.empty() || events.back()["event"] != "started") return events;
    during();
    capture_->write(R"({"command":"stop"})"
                    "\n");
    auto rest = readThrough("finished");
    events.insert(events.end(), rest.begin(), rest.end());
    return events;
  }
  static const Json* find(const std::vector<Json>& events, const std::string& kind) {
    for (const auto& e : events)
      if (e["event"] == kind) return &e;
    return nullptr;
  }
  // Clicks and keys as compact text, in the order they came: "click 0 0.25 0.25", "key ⌃ C",
  // "key" for a bare key event.
  static std::vector<std::string> clicksAndKeys(const std::vector<Json>& events) {
    std::vector<std::string> out;
    for (const auto& e : events) {
      if (e["event"] == "cursor-click") {
        char text[64];
        std::snprintf(text, sizeof text, "click %d %.3f %.3f", e["button"].get<int>(),
                      e["x"].get<double>(), e["y"].get<double>());
        out.push_back(text);
      } else if (e["event"] == "key") {
        std::string text = "key";
        if (e.contains("keys"))
          for (const auto& k : e["keys"]) text += " " + k.get<std::string>();
        out.push_back(text);
      }
    }
    return out;
  }
  // Duration of the recorded video as ffprobe reads it.
  double videoDuration() {
    std::string cmd = "ffprobe -v error -show_entries format=duration -of csv=p=0 '" + video_ + "'";
    std::unique_ptr<FILE, decltype(&pclose)> pipe(popen(cmd.c_str(), "r"), &pclose);
    char text[64] = {};
    if (!pipe || !std::fgets(text, sizeof text, pipe.get())) return -1;
    return std::atof(text);
  }

  PrivateXServer x_;
  TempDir dir_;
  std::string video_ = dir_.file("telemetry.mp4");
  std::unique_ptr<ChildProcess> capture_;
};

TEST_F(RecordingTelemetry, ClicksAndShortcutsArriveInOrderOnTheVideosTimeline) {
  xdotool({"mousemove", "20", "20"});
  auto events = record({{"keys", true}}, [&] {
    xdotool({"mousedown", "1", "sleep", "0.2", "mouseup", "1"});  // outside the region
    xdotool({"mousemove", "300", "200", "mousedown", "1", "sleep", "0.2", "mouseup", "1"});
    xdotool({"keydown", "ctrl+c", "sleep", "0.2", "keyup", "ctrl+c"});
    xdotool({"keydown", "ctrl+shift+z", "sleep", "0.2", "keyup", "ctrl+shift+z"});
    xdotool({"type", "--delay", "200", "hello"});
    xdotool({"keydown", "a", "sleep", "0.3", "keyup", "a"});  // held: once
    xdotool({"mousemove", "500", "400", "mousedown", "3", "sleep", "0.2", "mouseup", "3"});
  });
  const Json* prepared = find(events, "prepared");
  ASSERT_TRUE(prepared);
  EXPECT_EQ((*prepared)["keyTelemetry"], true);
  EXPECT_EQ((*prepared)["clickTelemetry"], true);
  EXPECT_EQ((*prepared)["cursorTelemetry"], true);
  const Json* finished = find(events, "finished");
  ASSERT_TRUE(finished) << events.back().dump();

  const std::vector<std::string> expected{
      "click 0 0.250 0.250", "key ⌃ C", "key ⌃ ⇧ Z", "key", "key", "key", "key", "key", "key",
      "click 1 0.500 0.750"};
  EXPECT_EQ(clicksAndKeys(events), expected);

  // Telemetry comes after "started" and before "finished", its times never go backwards and
  // all lie inside the recorded video.
  double duration = videoDuration();
  ASSERT_GT(duration, 0);
  bool started = false;
  double last = 0;
  size_t shapes = 0;
  for (const auto& e : events) {
    const std::string kind = e["event"];
    if (kind == "started") started = true;
    if (kind != "key" && kind != "cursor-click" && kind != "cursor-shape") continue;
    EXPECT_TRUE(started) << e.dump();
    shapes += kind == "cursor-shape";
    double t = e["t"].get<double>();
    EXPECT_GE(t, last) << e.dump();
    EXPECT_LE(t, duration) << e.dump();
    last = t;
    if (kind == "key" && !e.contains("keys")) {
      EXPECT_EQ(e.size(), 2u) << e.dump();
    }
  }
  EXPECT_GE(shapes, 1u);  // the cursor in use when intake began
}

TEST_F(RecordingTelemetry, ShortcutLabelsFollowTheKeyboardLayout) {
  ASSERT_EQ(x_.run({"/usr/bin/setxkbmap", "de"}), 0);
  auto events = record({{"keys", true}}, [&] {
    // On German the key at code 6 (US "z") types "y".
    xdotool({"keydown", "ctrl+y", "sleep", "0.2", "keyup", "ctrl+y"});
  });
  EXPECT_EQ(clicksAndKeys(events), std::vector<std::string>{"key ⌃ Y"});
}

TEST_F(RecordingTelemetry, NoKeyEventsUnlessKeysAreAskedFor) {
  auto events = record(Json::object(), [&] {
    xdotool({"keydown", "ctrl+c", "sleep", "0.2", "keyup", "ctrl+c"});
    xdotool({"type", "--delay", "200", "abc"});
  });
  const Json* prepared = find(events, "prepared");
  ASSERT_TRUE(prepared);
  EXPECT_EQ((*prepared)["keyTelemetry"], false);
  EXPECT_TRUE(find(events, "finished"));
  EXPECT_EQ(find(events, "key"), nullptr);
}

}  // namespace
}  // namespace tavolu
