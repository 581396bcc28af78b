#include "capture/telemetry/cursor_shape.h"

#include "capture/telemetry/cursor_png.h"

namespace tavolu {

bool CursorShapeCache::differs(const CursorImage& image) const {
  std::lock_guard lock(mutex_);
  if (!pixels_ || width_ != image.width || height_ != image.height || *pixels_ != image.argb)
    return true;
  return hotSpot_.x != image.hotSpot.x || hotSpot_.y != image.hotSpot.y;
}

void CursorShapeCache::store(const CursorImage& image) {
  std::lock_guard lock(mutex_);
  pixels_ = image.argb;
  width_ = image.width;
  height_ = image.height;
  hotSpot_ = image.hotSpot;
}

void CursorShapeCache::clear() {
  std::lock_guard lock(mutex_);
  pixels_.reset();
}

std::optional<CursorShape> takeChangedShape(const CursorImage& image, CursorShapeCache& cache) {
  if (!cache.differs(image)) return std::nullopt;
  auto png = encodeCursorPng(image);
  if (!png || png->size() >= kMaxCursorPngBytes) return std::nullopt;
  cache.store(image);
  return CursorShape{base64Encoded(*png), image.hotSpot, static_cast<double>(image.width),
                     static_cast<double>(image.height)};
}

}  // namespace tavolu
