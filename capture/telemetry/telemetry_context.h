// What input telemetry needs to know about the recording it belongs to. Every method is called
// on the capture queue only.
#pragma once

#include <optional>

#include "platform/geometry.h"
#include "platform/media_time.h"

namespace tavolu {

class TelemetryContext {
 public:
  virtual ~TelemetryContext() = default;
  // Whether samples and telemetry are being recorded now.
  virtual bool accepting() const = 0;
  // Host-clock time of the recording's first frame; nothing before it.
  virtual std::optional<MediaTime> origin() const = 0;
  // The recorded area in global display coordinates (points).
  virtual Rect captureBounds() const = 0;
};

}  // namespace tavolu
