// The options of a start command, read with a type test each: a value of another type counts
// as absent and takes the default.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "capture/main/event_channel.h"

namespace tavolu {

struct Region {
  std::optional<double> x, y, width, height;  // absent members default later
};

struct StartOptions {
  std::string source;
  std::string video;
  std::string cameraPath;
  int64_t fps = 30;
  std::optional<std::string> microphone;
  std::optional<std::string> camera;
  bool hasRegionMember = false;  // any "region" member at all turns window following off
  std::optional<Region> region;  // only an object whose members are all numbers
  std::vector<uint32_t> includeWindows;
  bool cursor = true;
  bool smoothCursor = false;  // "editableCursor" true, or "cursorMode" "smooth"
  bool clicks = false;
  bool systemAudio = false;
  bool keys = false;
  int64_t countdown = 0;  // seconds, clamped to 0...5
};

// Highest frame rate a recording accepts; higher requests are lowered to it.
inline constexpr int64_t kMaxFps = 240;

// A JSON number that is whole and fits 64 bits (30 and 30.0 pass, 29.97 does not).
std::optional<int64_t> wholeNumber(const Json& value);

StartOptions parseStartOptions(const Json& command);

}  // namespace tavolu
