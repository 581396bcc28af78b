// Rectangles and points in global display coordinates (origin top-left, y down, points).
#pragma once

namespace tavolu {

struct Point {
  double x = 0, y = 0;
};

struct Rect {
  double x = 0, y = 0, width = 0, height = 0;

  double minX() const { return width < 0 ? x + width : x; }
  double minY() const { return height < 0 ? y + height : y; }
  friend bool operator==(const Rect&, const Rect&) = default;
};

}  // namespace tavolu
