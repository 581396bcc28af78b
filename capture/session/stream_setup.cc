#include "capture/session/stream_setup.h"

#include <algorithm>
#include <cmath>

namespace tavolu {

CursorDecision decideCursor(SourceKind kind, const StartOptions& o) {
  CursorDecision d;
  switch (kind) {
    case SourceKind::display:
      d.smooth = o.smoothCursor;
      d.showsCursor = o.smoothCursor ? false : o.cursor;
      d.clickTelemetry = d.shapeTelemetry = true;
      break;
    case SourceKind::window:
      d.showsCursor = o.cursor;
      d.clickTelemetry = true;
      break;
    case SourceKind::other:
      d.showsCursor = o.cursor;
      d.showMouseClicks = o.clicks;
      break;
  }
  return d;
}

std::optional<RecordedArea> recordedArea(const Rect& s, const std::optional<Region>& region) {
  RecordedArea a;
  if (!region) {
    a.recorded = s;
    a.width = s.width;
    a.height = s.height;
    return a;
  }
  double x = region->x.value_or(0), y = region->y.value_or(0);
  double w = region->width.value_or(s.width), h = region->height.value_or(s.height);
  // A negative size describes the rectangle from its other edge.
  Rect n{w < 0 ? x + w : x, h < 0 ? y + h : y, std::fabs(w), std::fabs(h)};
  bool fits = n.width >= 64 && n.height >= 64 && n.x >= 0 && n.y >= 0 && n.x + n.width <= s.width &&
              n.y + n.height <= s.height;
  if (!fits) return std::nullopt;
  // The normalised rectangle is what the stream crops, so a negative size cannot make it
  // read outside the source.
  a.sourceRect = n;
  a.width = n.width;
  a.height = n.height;
  a.recorded = {s.x + n.x, s.y + n.y, n.width, n.height};
  return a;
}

PixelSize pixelSize(double w, double h, double scale) {
  double pw = w * scale, ph = h * scale;
  double longest = pw <= ph ? ph : pw;
  double ratio = 3840.0 / longest;
  double factor = std::isnan(ratio) ? 1.0 : std::min(ratio, 1.0);
  auto even = [](double v) {
    if (!(v >= 2)) return 2;  // also catches NaN
    long long i = static_cast<long long>(v);
    return static_cast<int>(std::min<long long>(i / 2 * 2, 1 << 30));
  };
  return {even(pw * factor), even(ph * factor)};
}

std::optional<uint32_t> sourceNumber(const std::string& source, const std::string& prefix) {
  if (source.rfind(prefix, 0) != 0) return std::nullopt;
  std::string rest = source.substr(prefix.size());
  if (rest.empty() || rest.size() > 10 ||
      !std::all_of(rest.begin(), rest.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  unsigned long long v = std::stoull(rest);
  if (v > 0xFFFFFFFFull) return std::nullopt;
  return static_cast<uint32_t>(v);
}

}  // namespace tavolu
