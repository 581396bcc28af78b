#include "capture/telemetry/input_telemetry.h"

#include <gtest/gtest.h>

#include <asio/executor_work_guard.hpp>
#include <asio/post.hpp>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

#include "capture/telemetry/key_tables.h"
#include "platform/fake_input.h"

namespace tavolu {
namespace {

using namespace std::chrono_literals;

class FakeContext : public TelemetryContext {
 public:
  bool accepting() const override {
    std::lock_guard lock(mutex_);
    ++checks_;
    checked_.notify_all();
    return accepting_;
  }
  std::optional<MediaTime> origin() const override { return origin_; }
  Rect captureBounds() const override { return bounds_; }

  // Owned by the capture queue, like the recording's own state.
  bool accepting_ = false;
  std::optional<MediaTime> origin_;
  Rect bounds_{100, 100, 400, 200};

  // Waits until the samplers have asked `more` times whether intake is on: a gated sampler
  // reads no input, so this is how a test knows it has looked.
  bool waitForMoreChecks(uint64_t more) const {
    std::unique_lock lock(mutex_);
    uint64_t target = checks_ + more;
    return checked_.wait_for(lock, std::chrono::seconds(10), [&] { return checks_ >= target; });
  }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable checked_;
  mutable uint64_t checks_ = 0;
};

// Every read differs from the previous one: the cursor's hot spot moves, the left button and
// the C key go up and down. Keeps all three samplers busy.
class ChurningInput : public FakeInput {
 public:
  std::optional<PointerState> pointer() override {
    auto state = FakeInput::pointer();
    state->left = (++pointerReads_ % 2) == 0;
    return state;
  }
  std::optional<Keymap> keymap() override {
    auto map = FakeInput::keymap();
    map->set(*KeyTables::windowKeyCode(8), (++keymapReads_ % 2) == 0);
    return map;
  }
  std::optional<CursorImage> cursorImage() override {
    auto image = FakeInput::cursorImage();
    if (image) image->hotSpot.x = static_cast<double>(++cursorReads_ % 16);
    return image;
  }

 private:
  std::atomic<uint64_t> pointerReads_{0}, keymapReads_{0}, cursorReads_{0};
};

CursorImage arrow(Point hot = {1, 2}) {
  return CursorImage{12, 20, hot, std::vector<uint32_t>(12 * 20, 0xff202020)};
}

class InputTelemetryTest : public ::testing::Test {
 protected:
  void SetUp() override { useInput(std::make_shared<FakeInput>()); }
  void TearDown() override {
    telemetry_.reset();
    work_.reset();
    mainLoop_.stop();
    mainThread_.join();
  }

  void useInput(std::shared_ptr<FakeInput> input) {
    telemetry_.reset();
    input_ = std::move(input);
    input_->setPointer(PointerState{{300, 200}, false, false});  // (0.5, 0.5) of the area
    input_->setCursor(arrow());
    telemetry_ = std::make_unique<InputTelemetry>(context_, queue_, mainLoop_, input_,
                                                  [this](const Json& event) { record(event); });
  }

  // Intake on, origin now (as the first screen frame would set it).
  void startIntake() {
    queue_.sync([&] {
      context_.accepting_ = true;
      context_.origin_ = hostTimeNow();
    });
  }

  void record(const Json& event) {
    EXPECT_TRUE(queue_.isCurrent()) << "telemetry is sent on the capture queue only";
    std::lock_guard lock(mutex_);
    events_.push_back(event);
    arrived_.notify_all();
  }
  std::vector<Json> events() {
    std::lock_guard lock(mutex_);
    return events_;
  }
  std::vector<Json> eventsOf(const std::string& kind) {
    std::vector<Json> found;
    for (const auto& e : events())
      if (e["event"] == kind) found.push_back(e);
    return found;
  }
  bool waitForEvents(const std::string& kind, size_t count) {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, 10s, [&] {
      size_t n = 0;
      for (const auto& e : events_) n += e["event"] == kind;
      return n >= count;
    });
  }
  // Lets every sampler run `ticks` more times (and whatever they handed on run too).
  void letSamplersRun(FakeInput::Read read, int ticks = 5) {
    ASSERT_TRUE(input_->waitForMoreReads(read, ticks));
    drain();
  }
  // Runs what the main loop and the capture queue have been given so far.
  void drain() {
    std::promise<void> done;
    asio::post(mainLoop_, [&] { done.set_value(); });
    done.get_future().wait();
    queue_.sync([] {});
  }

  FakeContext context_;
  SerialQueue queue_{"app.tavolu.capture"};
  asio::io_context mainLoop_;
  asio::executor_work_guard<asio::io_context::executor_type> work_{mainLoop_.get_executor()};
  std::thread mainThread_{[this] { mainLoop_.run(); }};
  std::shared_ptr<FakeInput> input_;
  std::unique_ptr<InputTelemetry> telemetry_;

  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<Json> events_;
};

TEST_F(InputTelemetryTest, ClicksWaitForIntakeAndOriginAndAreNormalised) {
  telemetry_->startClickTracking(true, false);
  input_->setPointer(PointerState{{300, 200}, true, false});
  ASSERT_TRUE(context_.waitForMoreChecks(5));
  queue_.sync([&] { context_.accepting_ = true; });  // intake on, but no first frame yet
  ASSERT_TRUE(context_.waitForMoreChecks(5));
  EXPECT_TRUE(events().empty());

  // The press seen before the origin was not remembered: it is reported once samples count.
  queue_.sync([&] { context_.origin_ = hostTimeNow(); });
  ASSERT_TRUE(waitForEvents("cursor-click", 1));
  letSamplersRun(FakeInput::kPointer);
  auto clicks = eventsOf("cursor-click");
  ASSERT_EQ(clicks.size(), 1u);  // held: one click only
  const Json& click = clicks[0];
  EXPECT_EQ(click.size(), 5u);
  EXPECT_EQ(click["button"], 0);
  EXPECT_DOUBLE_EQ(click["x"].get<double>(), 0.5);
  EXPECT_DOUBLE_EQ(click["y"].get<double>(), 0.5);
  EXPECT_GE(click["t"].get<double>(), 0);
  EXPECT_LT(click["t"].get<double>(), 10);

  // Right press outside the area: nothing.
  input_->setPointer(PointerState{{50, 200}, false, true});
  letSamplersRun(FakeInput::kPointer);
  EXPECT_EQ(eventsOf("cursor-click").size(), 1u);
  // Right press inside (the area moved under the pointer): button 1, against the new area.
  input_->setPointer(PointerState{{50, 200}, false, false});
  letSamplersRun(FakeInput::kPointer);
  queue_.sync([&] { context_.bounds_ = Rect{0, 100, 400, 200}; });
  input_->setPointer(PointerState{{50, 200}, false, true});
  ASSERT_TRUE(waitForEvents("cursor-click", 2));
  auto second = eventsOf("cursor-click")[1];
  EXPECT_EQ(second["button"], 1);
  EXPECT_DOUBLE_EQ(second["x"].get<double>(), 0.125);
}

TEST_F(InputTelemetryTest, AButtonHeldAtStartClicksOnlyOncePressedAgain) {
  input_->setPointer(PointerState{{300, 200}, true, false});
  startIntake();
  telemetry_->startClickTracking(true, true);
  letSamplersRun(FakeInput::kPointer);
  EXPECT_TRUE(eventsOf("cursor-click").empty());
  input_->setPointer(PointerState{{300, 200}, false, false});
  letSamplersRun(FakeInput::kPointer);
  input_->setPointer(PointerState{{300, 200}, true, false});
  EXPECT_TRUE(waitForEvents("cursor-click", 1));
}

TEST_F(InputTelemetryTest, CursorShapeIsReportedOnceIntakeBeginsAndOnEveryChange) {
  telemetry_->startClickTracking(false, true);
  // Before the first frame the sampler keeps looking (each unsent shape clears the cache).
  letSamplersRun(FakeInput::kCursor);
  input_->setCursor(arrow({3, 3}));
  letSamplersRun(FakeInput::kCursor);
  EXPECT_TRUE(events().empty());

  startIntake();
  ASSERT_TRUE(waitForEvents("cursor-shape", 1));
  letSamplersRun(FakeInput::kCursor, 10);
  auto shapes = eventsOf("cursor-shape");
  ASSERT_EQ(shapes.size(), 1u);  // the same cursor for a long time: one event
  const Json& shape = shapes[0];
  EXPECT_EQ(shape.size(), 9u);
  EXPECT_EQ(shape["hotX"], 3.0);
  EXPECT_EQ(shape["hotY"], 3.0);
  EXPECT_EQ(shape["width"], 12.0);
  EXPECT_EQ(shape["height"], 20.0);
  EXPECT_DOUBLE_EQ(shape["x"].get<double>(), 0.5);
  EXPECT_DOUBLE_EQ(shape["y"].get<double>(), 0.5);
  EXPECT_EQ(shape["image"].get<std::string>().rfind("iVBORw0KGgo", 0), 0u);  // PNG signature
  EXPECT_GE(shape["t"].get<double>(), 0);

  // Same pixels, other hot spot: a change.
  input_->setCursor(arrow({6, 6}));
  ASSERT_TRUE(waitForEvents("cursor-shape", 2));
  EXPECT_EQ(eventsOf("cursor-shape")[1]["hotX"], 6.0);

  // The pointer outside the area: positions are not clamped.
  input_->setPointer(PointerState{{0, 0}, false, false});
  input_->setCursor(arrow({1, 1}));
  ASSERT_TRUE(waitForEvents("cursor-shape", 3));
  EXPECT_DOUBLE_EQ(eventsOf("cursor-shape")[2]["x"].get<double>(), -0.25);

  // No cursor at all: nothing, and nothing breaks.
  input_->setCursor(std::nullopt);
  letSamplersRun(FakeInput::kCursor);
  EXPECT_EQ(eventsOf("cursor-shape").size(), 3u);
}

TEST_F(InputTelemetryTest, KeysSpellOutShortcutsInTheCurrentLayoutOnly) {
  // German: the key at code 6 types "y".
  input_->setLayout(std::map<uint8_t, std::string>{{*KeyTables::windowKeyCode(6), "y"}});
  const uint8_t z = *KeyTables::windowKeyCode(6), a = *KeyTables::windowKeyCode(0),
                s = *KeyTables::windowKeyCode(1);
  input_->setKeys({s});  // held when tracking starts
  startIntake();
  telemetry_->buildKeyLabels();
  EXPECT_EQ(input_->reads(FakeInput::kLayout), 1u);
  EXPECT_EQ(telemetry_->keyLabels().at(6), "Y");
  telemetry_->startKeyTracking();
  letSamplersRun(FakeInput::kKeymap);
  EXPECT_TRUE(events().empty());

  input_->setModifiers(kModifierControl | kModifierShift);
  input_->setKeys({s, z});
  ASSERT_TRUE(waitForEvents("key", 1));
  input_->setModifiers(0);
  input_->setKeys({});
  letSamplersRun(FakeInput::kKeymap);
  input_->setKeys({a});
  ASSERT_TRUE(waitForEvents("key", 2));
  letSamplersRun(FakeInput::kKeymap);

  auto keys = eventsOf("key");
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[0]["keys"], Json::array({"⌃", "⇧", "Y"}));
  EXPECT_EQ(keys[1].size(), 2u) << keys[1].dump();  // plain typing: the time alone
  EXPECT_TRUE(keys[1].contains("t"));
}

TEST_F(InputTelemetryTest, BuildKeyLabelsRunsOnTheMainLoop) {
  class ThreadRecordingInput : public FakeInput {
   public:
    std::unique_ptr<KeyboardLayout> currentLayout() override {
      thread = std::this_thread::get_id();
      return FakeInput::currentLayout();
    }
    std::thread::id thread;
  };
  auto input = std::make_shared<ThreadRecordingInput>();
  useInput(input);
  telemetry_->buildKeyLabels();
  EXPECT_EQ(input->thread, mainThread_.get_id());
  EXPECT_EQ(telemetry_->keyLabels().size(), 74u);  // no layout: the US labels
  EXPECT_EQ(telemetry_->keyLabels().at(6), "Z");

  // Called on the main loop itself it runs at once instead of waiting for itself.
  std::promise<void> done;
  asio::post(mainLoop_, [&] {
    telemetry_->buildKeyLabels();
    done.set_value();
  });
  EXPECT_EQ(done.get_future().wait_for(10s), std::future_status::ready);
}

TEST_F(InputTelemetryTest, NothingIsEmittedOnceTimersAreCancelled) {
  useInput(std::make_shared<ChurningInput>());
  input_->setModifiers(kModifierCommand);
  startIntake();
  telemetry_->buildKeyLabels();
  telemetry_->startClickTracking(true, true);
  telemetry_->startKeyTracking();
  ASSERT_TRUE(waitForEvents("cursor-shape", 3));
  ASSERT_TRUE(waitForEvents("cursor-click", 3));
  ASSERT_TRUE(waitForEvents("key", 3));

  size_t before = 0;
  queue_.sync([&] {
    // While the capture queue is held (as stop holds it), the shape sampler keeps handing
    // shapes to it; they wait behind this block.
    ASSERT_TRUE(input_->waitForMoreReads(FakeInput::kCursor, 3));
    telemetry_->cancelTimers();
    before = events().size();
  });
  for (int i = 0; i < 3; ++i) drain();
  EXPECT_EQ(events().size(), before);
}

TEST_F(InputTelemetryTest, RestartingReplacesTheSamplers) {
  input_->setLayout(std::nullopt);
  startIntake();
  telemetry_->buildKeyLabels();
  telemetry_->startClickTracking(true, true);
  telemetry_->startKeyTracking();
  ASSERT_TRUE(waitForEvents("cursor-shape", 1));

  // The next recording: no shapes and no keys asked for.
  telemetry_->startClickTracking(true, false);
  telemetry_->startKeyTracking(false);
  drain();
  size_t shapes = eventsOf("cursor-shape").size();
  uint64_t keymapReads = input_->reads(FakeInput::kKeymap);
  input_->setCursor(arrow({9, 9}));
  input_->setKeys({*KeyTables::windowKeyCode(8)});
  input_->setModifiers(kModifierCommand);
  letSamplersRun(FakeInput::kPointer, 10);
  EXPECT_EQ(eventsOf("cursor-shape").size(), shapes);
  EXPECT_EQ(input_->reads(FakeInput::kKeymap), keymapReads);
  EXPECT_TRUE(eventsOf("key").empty());
}

}  // namespace
}  // namespace tavolu
