#include "platform/linux/frame_geometry.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace tavolu {

PixelRect intersect(const PixelRect& a, const PixelRect& b) {
  int x0 = std::max(a.x, b.x), y0 = std::max(a.y, b.y);
  int x1 = std::min(a.right(), b.right()), y1 = std::min(a.bottom(), b.bottom());
  if (x1 <= x0 || y1 <= y0) return {};
  return {x0, y0, x1 - x0, y1 - y0};
}

PixelRect grabRect(int width, int height, const std::optional<Rect>& crop) {
  PixelRect whole{0, 0, std::max(width, 0), std::max(height, 0)};
  if (!crop) return whole;
  auto clampInt = [](double v) { return static_cast<int>(std::clamp(v, -1e9, 1e9)); };
  double x0 = crop->minX(), y0 = crop->minY();
  double x1 = x0 + std::fabs(crop->width), y1 = y0 + std::fabs(crop->height);
  if (!std::isfinite(x0) || !std::isfinite(y0) || !std::isfinite(x1) || !std::isfinite(y1))
    return {};
  PixelRect r{clampInt(std::floor(x0)), clampInt(std::floor(y0)), 0, 0};
  r.width = clampInt(std::ceil(x1)) - r.x;
  r.height = clampInt(std::ceil(y1)) - r.y;
  return intersect(r, whole);
}

FrameLayout frameLayout(int srcWidth, int srcHeight, int outWidth, int outHeight) {
  if (srcWidth <= 0 || srcHeight <= 0 || outWidth <= 0 || outHeight <= 0) return {{}, false};
  if (std::abs(srcWidth - outWidth) <= 1 && std::abs(srcHeight - outHeight) <= 1)
    return {{0, 0, std::min(srcWidth, outWidth), std::min(srcHeight, outHeight)}, false};
  // Fit by the tighter side; the other side gets the picture's own aspect ratio.
  int64_t w = outWidth, h = outHeight;
  if (int64_t(srcWidth) * outHeight > int64_t(outWidth) * srcHeight)
    h = std::max<int64_t>(1, (int64_t(outWidth) * srcHeight + srcWidth / 2) / srcWidth);
  else
    w = std::max<int64_t>(1, (int64_t(outHeight) * srcWidth + srcHeight / 2) / srcHeight);
  // Within a pixel of the output is rounding, not a different aspect ratio.
  if (outWidth - w <= 1) w = outWidth;
  if (outHeight - h <= 1) h = outHeight;
  return {{int((outWidth - w) / 2), int((outHeight - h) / 2), int(w), int(h)}, true};
}

namespace {

// `r` minus `cut`: up to four rectangles.
void subtract(const PixelRect& r, const PixelRect& cut, std::vector<PixelRect>& out) {
  PixelRect i = intersect(r, cut);
  if (i.empty()) {
    out.push_back(r);
    return;
  }
  if (i.y > r.y) out.push_back({r.x, r.y, r.width, i.y - r.y});
  if (i.bottom() < r.bottom()) out.push_back({r.x, i.bottom(), r.width, r.bottom() - i.bottom()});
  if (i.x > r.x) out.push_back({r.x, i.y, i.x - r.x, i.height});
  if (i.right() < r.right()) out.push_back({i.right(), i.y, r.right() - i.right(), i.height});
}

}  // namespace

std::vector<PixelRect> hiddenAreas(const std::vector<StackedWindow>& frontToBack) {
  std::vector<PixelRect> result;
  for (size_t i = 0; i < frontToBack.size(); ++i) {
    if (!frontToBack[i].hidden || frontToBack[i].frame.empty()) continue;
    std::vector<PixelRect> pieces{frontToBack[i].frame}, next;
    for (size_t j = 0; j < i && !pieces.empty(); ++j) {
      next.clear();
      for (const PixelRect& p : pieces) subtract(p, frontToBack[j].frame, next);
      pieces.swap(next);
    }
    result.insert(result.end(), pieces.begin(), pieces.end());
  }
  return result;
}

}  // namespace tavolu
