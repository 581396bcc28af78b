// Cursor-shape change detection: which cursor images are reported, and the cache of the last
// one reported.
#pragma once

#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/geometry.h"
#include "platform/input.h"

namespace tavolu {

// A cursor whose PNG has this many bytes or more is never reported.
inline constexpr size_t kMaxCursorPngBytes = 100000;

// A cursor image ready to be sent.
struct CursorShape {
  std::string pngBase64;
  Point hotSpot;     // points from the top-left corner
  double width = 0;  // points
  double height = 0;
};

// The pixels and hot spot of the cursor last reported. The shape sampler updates it on the main
// loop and the sender clears it on the capture queue, so every access takes its lock.
class CursorShapeCache {
 public:
  // Whether `image` counts as a new cursor: nothing stored, other pixels (or size), or other
  // hot spot.
  bool differs(const CursorImage& image) const;
  void store(const CursorImage& image);
  // Forgets the cursor, so the next sample reports whatever cursor is in use.
  void clear();

 private:
  mutable std::mutex mutex_;
  std::optional<std::vector<uint32_t>> pixels_;
  int width_ = 0, height_ = 0;
  Point hotSpot_{-1, -1};
};

// The shape to send for `image` if it is a new cursor whose PNG stays under the limit; it then
// becomes the cache's cursor. Nothing when unchanged, not encodable or too large (a too-large
// cursor leaves the cache alone and is tried again at every sample).
std::optional<CursorShape> takeChangedShape(const CursorImage& image, CursorShapeCache& cache);

}  // namespace tavolu
