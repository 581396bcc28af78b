#include "capture/telemetry/input_telemetry.h"

#include <asio/post.hpp>
#include <chrono>
#include <future>
#include <mutex>
#include <optional>

#include "capture/telemetry/click_sampler.h"
#include "capture/telemetry/cursor_shape.h"
#include "capture/telemetry/key_labels.h"
#include "capture/telemetry/key_sampler.h"
#include "capture/telemetry/recorded_area.h"
#include "capture/telemetry/telemetry_events.h"
#include "platform/repeating_timer.h"

namespace tavolu {
namespace {
constexpr auto kShapeInterval = std::chrono::milliseconds(16);
constexpr auto kClickInterval = std::chrono::milliseconds(8);
constexpr auto kKeyInterval = std::chrono::milliseconds(10);
}  // namespace

// The state shared with the timer handlers, which hold it weakly. Everything but the shape
// cache and the labels belongs to the capture queue.
class InputTelemetry::Core : public std::enable_shared_from_this<Core> {
 public:
  Core(TelemetryContext& context, SerialQueue& queue, asio::io_context& mainLoop,
       std::shared_ptr<Input> input, EventSink sink)
      : context_(context),
        queue_(queue),
        mainLoop_(mainLoop),
        input_(std::move(input)),
        sink_(std::move(sink)) {}

  void startClickTracking(bool clickTelemetry, bool shapeTelemetry) {
    queue_.sync([&] {
      shapeTimer_.reset();
      uint64_t generation = ++shapeGeneration_;
      shapeCache_.clear();
      std::weak_ptr<Core> weak = weak_from_this();
      if (shapeTelemetry) {
        shapeTimer_ = std::make_unique<RepeatingTimer>(mainLoop_.get_executor(), kShapeInterval,
                                                       [weak, generation] {
                                                         if (auto core = weak.lock())
                                                           core->sampleShape(generation);
                                                       });
      }
      clickTimer_.reset();
      auto now = input_->pointer();
      clicks_.reset(now && now->left, now && now->right);
      if (clickTelemetry) {
        clickTimer_ = std::make_unique<RepeatingTimer>(queue_.executor(), kClickInterval, [weak] {
          if (auto core = weak.lock()) core->sampleClicks();
        });
      }
    });
  }

  void buildKeyLabels() {
    auto build = [this] {
      auto layout = input_->currentLayout();
      auto labels = keyLabelsFor(layout.get());
      std::lock_guard lock(labelsMutex_);
      keyLabels_ = std::move(labels);
    };
    // The layout is read on the main loop; a loop that has stopped for good runs nothing more,
    // so then it is read here instead of waiting forever.
    if (mainLoop_.get_executor().running_in_this_thread() || mainLoop_.stopped()) return build();
    std::packaged_task<void()> task(build);
    auto done = task.get_future();
    asio::post(mainLoop_, [&task] { task(); });
    done.get();
  }

  void startKeyTracking(bool keyTelemetry) {
    queue_.sync([&] {
      keyTimer_.reset();
      keys_.reset();
      if (!keyTelemetry) return;
      keys_.start(keyLabels(), input_->keymap());
      std::weak_ptr<Core> weak = weak_from_this();
      keyTimer_ = std::make_unique<RepeatingTimer>(queue_.executor(), kKeyInterval, [weak] {
        if (auto core = weak.lock()) core->pollKeys();
      });
    });
  }

  void cancelTimers() {
    queue_.sync([&] {
      ++shapeGeneration_;  // shapes already on their way to the queue are dropped
      shapeTimer_.reset();
      clickTimer_.reset();
      keyTimer_.reset();
    });
  }

  // Stops the timers without waiting for the queue (destruction).
  void cancelNow() {
    if (shapeTimer_) shapeTimer_->cancel();
    if (clickTimer_) clickTimer_->cancel();
    if (keyTimer_) keyTimer_->cancel();
  }

  std::map<uint16_t, std::string> keyLabels() const {
    std::lock_guard lock(labelsMutex_);
    return keyLabels_;
  }

 private:
  // Seconds since the origin, when telemetry is being recorded (capture queue).
  std::optional<double> recordingTime() const {
    if (!context_.accepting()) return std::nullopt;
    auto origin = context_.origin();
    if (!origin || !origin->valid()) return std::nullopt;
    return (hostTimeNow() - *origin).seconds();
  }

  // Main loop, every 16 ms.
  void sampleShape(uint64_t generation) {
    auto image = input_->cursorImage();
    if (!image) return;
    auto shape = takeChangedShape(*image, shapeCache_);
    if (!shape) return;
    std::weak_ptr<Core> weak = weak_from_this();
    queue_.async([weak, generation, shape = std::move(*shape)] {
      if (auto core = weak.lock()) core->sendShape(generation, shape);
    });
  }

  // Capture queue.
  void sendShape(uint64_t generation, const CursorShape& shape) {
    if (generation == shapeGeneration_) {
      if (auto t = recordingTime()) {
        auto pointer = input_->pointer();
        auto position =
            pointer ? normalizedIn(context_.captureBounds(), pointer->location) : std::nullopt;
        if (position) return sink_(cursorShapeEvent(*t, *position, shape));
      }
    }
    // Not sent: the cursor in use is reported afresh at the next sample.
    shapeCache_.clear();
  }

  // Capture queue, every 8 ms.
  void sampleClicks() {
    if (!recordingTime()) return;
    auto pointer = input_->pointer();
    if (!pointer) return;
    auto click = clicks_.sample(*pointer, context_.captureBounds());
    if (!click) return;
    if (auto t = recordingTime()) sink_(cursorClickEvent(*t, click->position, click->button));
  }

  // Capture queue, every 10 ms.
  void pollKeys() {
    if (!recordingTime()) return;
    auto now = input_->keymap();
    if (!now) return;
    auto pressed = keys_.poll(*now);
    if (pressed.empty()) return;
    auto t = recordingTime();
    if (!t) return;
    uint64_t modifiers = input_->modifiers();
    for (uint16_t code : pressed) sink_(keyEvent(*t, keys_.keysFor(code, modifiers)));
  }

  TelemetryContext& context_;
  SerialQueue& queue_;
  asio::io_context& mainLoop_;
  std::shared_ptr<Input> input_;
  EventSink sink_;

  CursorShapeCache shapeCache_;  // main loop and capture queue, locked
  mutable std::mutex labelsMutex_;
  std::map<uint16_t, std::string> keyLabels_;

  // Capture queue.
  uint64_t shapeGeneration_ = 0;
  std::unique_ptr<RepeatingTimer> shapeTimer_;
  std::unique_ptr<RepeatingTimer> clickTimer_;
  std::unique_ptr<RepeatingTimer> keyTimer_;
  ClickSampler clicks_;
  KeySampler keys_;
};

InputTelemetry::InputTelemetry(TelemetryContext& context, SerialQueue& captureQueue,
                               asio::io_context& mainLoop, std::shared_ptr<Input> input,
                               EventSink sink)
    : core_(std::make_shared<Core>(context, captureQueue, mainLoop, std::move(input),
                                   std::move(sink))) {}

InputTelemetry::~InputTelemetry() { core_->cancelNow(); }

void InputTelemetry::startClickTracking(bool clickTelemetry, bool shapeTelemetry) {
  core_->startClickTracking(clickTelemetry, shapeTelemetry);
}
void InputTelemetry::buildKeyLabels() { core_->buildKeyLabels(); }
void InputTelemetry::startKeyTracking(bool keyTelemetry) { core_->startKeyTracking(keyTelemetry); }
void InputTelemetry::cancelTimers() { core_->cancelTimers(); }
std::map<uint16_t, std::string> InputTelemetry::keyLabels() const { return core_->keyLabels(); }

}  // namespace tavolu
