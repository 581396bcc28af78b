#include "segment/matte/frame_rules.h"

#include <cmath>

namespace tavolu::segment {

std::optional<int> matteHeight(double width, double height, const AffineTransform& t) {
  // Size of the transformed rectangle, signs kept, as the size-by-transform operation gives it.
  const double w = t.a * width + t.c * height;
  const double h = t.b * width + t.d * height;
  const double r = std::fabs(h / w) * kMatteWidth;
  // No finite ratio (a width of 0), or taller than H.264 pictures can be: no matte can be made.
  if (!std::isfinite(r) || r > kMaxMatteHeight) return std::nullopt;
  const long long n = static_cast<long long>(r);
  if (n < 2) return 2;
  return static_cast<int>(n - n % 2);
}

}  // namespace tavolu::segment
