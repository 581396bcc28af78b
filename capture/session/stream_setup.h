// How a source becomes a stream: the cursor mode, the recorded rectangle and pixel size.
#pragma once

#include <optional>
#include <string>

#include "capture/session/start_options.h"
#include "platform/geometry.h"

namespace tavolu {

enum class SourceKind { display, window, other };

struct CursorDecision {
  bool smooth = false;      // "cursorMode" of the prepared event: "smooth" or "embedded"
  bool showsCursor = true;  // the stream draws the pointer
  bool showMouseClicks = false;
  bool clickTelemetry = false;
  bool shapeTelemetry = false;
};

CursorDecision decideCursor(SourceKind kind, const StartOptions& options);

struct RecordedArea {
  Rect recorded;                   // global display coordinates, points
  std::optional<Rect> sourceRect;  // region relative to the source, when one was given
  double width = 0, height = 0;    // capture size, points
};

// The region rules; nothing when the region does not fit the source (code 8).
std::optional<RecordedArea> recordedArea(const Rect& source, const std::optional<Region>& region);

struct PixelSize {
  int width = 0, height = 0;
};

// Pixel size of a capture: scaled by the display's density, the longest side capped at 3840,
// even, at least 2.
PixelSize pixelSize(double width, double height, double pointPixelScale);

// "screen:<n>" / "window:<n>": the unsigned 32-bit number after the prefix.
std::optional<uint32_t> sourceNumber(const std::string& source, const std::string& prefix);

}  // namespace tavolu
