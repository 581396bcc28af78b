// The fixed rules that shape the matte video: its frame size and which source frames it keeps.
#pragma once

#include <optional>

namespace tavolu::segment {

constexpr int kMatteWidth = 1024;
constexpr int kMaxMatteHeight = 16384;  // the tallest picture libx264 encodes

// A 2x3 affine transform (a b / c d / tx ty), as a display matrix describes a picture's
// orientation: a point (x, y) goes to (a x + c y + tx, b x + d y + ty).
struct AffineTransform {
  double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;
};

// Height of the matte for a track of natural size (width, height) shown through `transform`:
// the transformed size's |height / width| times 1024, truncated, rounded down to an even number,
// at least 2. Nothing when the ratio is not a finite number (a width of 0) or the height would
// exceed kMaxMatteHeight.
std::optional<int> matteHeight(double width, double height, const AffineTransform& transform);

// Keeps a source frame only when it comes at least 1/60 s after the last kept one (with a
// 0.0001 s tolerance for rounding of 1/60 s steps), so the matte never exceeds 60 frames/s.
class RateLimiter {
 public:
  // Whether a frame at `seconds` passes.
  bool admits(double seconds) const { return seconds + kTolerance >= next_; }
  // Records that the frame at `seconds` was handled.
  void handled(double seconds) { next_ = seconds + kStep; }

  static constexpr double kStep = 1.0 / 60.0;
  static constexpr double kTolerance = 0.0001;

 private:
  double next_ = 0;
};

}  // namespace tavolu::segment
