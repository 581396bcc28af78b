#include "capture/telemetry/recorded_area.h"

#include <cmath>

namespace tavolu {

bool areaContains(const Rect& area, Point p) {
  double w = std::fabs(area.width), h = std::fabs(area.height);
  return area.minX() <= p.x && p.x < area.minX() + w && area.minY() <= p.y && p.y < area.minY() + h;
}

std::optional<Point> normalizedIn(const Rect& area, Point p) {
  double w = std::fabs(area.width), h = std::fabs(area.height);
  if (!(w > 0) || !(h > 0) || !std::isfinite(w) || !std::isfinite(h)) return std::nullopt;
  return Point{(p.x - area.minX()) / w, (p.y - area.minY()) / h};
}

}  // namespace tavolu
