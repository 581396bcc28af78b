// Positions relative to the recorded area.
#pragma once

#include <optional>

#include "platform/geometry.h"

namespace tavolu {

// Whether the point lies in the area, left and top edges included, right and bottom edges
// excluded. An empty area contains nothing.
bool areaContains(const Rect& area, Point p);

// The point as fractions of the area, (0, 0) at its top-left corner; not clamped. Nothing for
// an area without width or height, where no fraction exists.
std::optional<Point> normalizedIn(const Rect& area, Point p);

}  // namespace tavolu
