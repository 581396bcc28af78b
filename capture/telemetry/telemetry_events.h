// The telemetry events as they go out on the event channel.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "capture/main/event_channel.h"
#include "capture/telemetry/cursor_shape.h"
#include "platform/geometry.h"

namespace tavolu {

// "cursor-shape": t, the pointer's position in the recorded area, the PNG and its geometry.
Json cursorShapeEvent(double t, Point position, const CursorShape& shape);

// "cursor-click": t, position in the recorded area, button 0 (left) or 1.
Json cursorClickEvent(double t, Point position, int button);

// "key": t alone for plain typing, with "keys" for a shortcut.
Json keyEvent(double t, const std::optional<std::vector<std::string>>& keys);

}  // namespace tavolu
