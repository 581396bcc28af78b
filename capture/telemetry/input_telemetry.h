// Cursor, click and key telemetry of one recording process: three samplers that report cursor
// shapes, new button presses inside the recorded area and key presses as live events.
//
// The click sampler (8 ms) and the key poll (10 ms) run on the capture queue; the cursor-shape
// sampler (16 ms) runs on the main loop and hands what it finds to the capture queue, where
// everything is sent. Nothing is sent unless the context is accepting and has an origin; event
// times are seconds since that origin on the host clock.
#pragma once

#include <asio/io_context.hpp>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "capture/main/event_channel.h"
#include "capture/telemetry/telemetry_context.h"
#include "platform/input.h"
#include "platform/serial_queue.h"

namespace tavolu {

class InputTelemetry {
 public:
  using EventSink = std::function<void(const Json&)>;

  // `context`, `captureQueue` and `mainLoop` must outlive this object. Events go to `sink`.
  InputTelemetry(TelemetryContext& context, SerialQueue& captureQueue, asio::io_context& mainLoop,
                 std::shared_ptr<Input> input, EventSink sink = emit);
  ~InputTelemetry();
  InputTelemetry(const InputTelemetry&) = delete;
  InputTelemetry& operator=(const InputTelemetry&) = delete;

  // Replaces the shape and click samplers: forgets the cursor last reported, remembers the
  // buttons held now (they click only once pressed again) and starts the samplers the flags
  // ask for. Callable from any thread; its steps run on the capture queue.
  void startClickTracking(bool clickTelemetry, bool shapeTelemetry);
  // Reads the labels of the polled keys from the current keyboard layout, on the main loop:
  // returns once done (at once when called there). The main loop must be running.
  void buildKeyLabels();
  // Replaces the key poll: forgets the keys seen and, when `keyTelemetry` is set, polls the keys
  // labelled by the last buildKeyLabels(), keys held now counting as seen. Call it on every
  // start (with false when keys are off) so no poll of an earlier recording survives.
  void startKeyTracking(bool keyTelemetry = true);
  // Stops every sampler. Runs on the capture queue (at once from inside a block there); once it
  // returns, no telemetry event is emitted until the next start.
  void cancelTimers();
  // The labels of the last buildKeyLabels(), by virtual key code.
  std::map<uint16_t, std::string> keyLabels() const;

 private:
  class Core;
  std::shared_ptr<Core> core_;
};

}  // namespace tavolu
