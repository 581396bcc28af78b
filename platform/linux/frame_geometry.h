// Pixel geometry of a screen frame: which part of the source is read, where it lands in the
// delivered picture, and which parts of a display are hidden behind excluded windows.
#pragma once

#include <optional>
#include <vector>

#include "platform/geometry.h"

namespace tavolu {

struct PixelRect {
  int x = 0, y = 0, width = 0, height = 0;

  bool empty() const { return width <= 0 || height <= 0; }
  int right() const { return x + width; }
  int bottom() const { return y + height; }
  friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

PixelRect intersect(const PixelRect& a, const PixelRect& b);

// The part of a source of `width` x `height` pixels to read: `crop` (points relative to the
// source's top-left corner, one point per pixel, negative sizes counted from the other edge)
// widened to whole pixels and clipped to the source; the whole source without a crop. Empty
// when the crop lies outside the source.
PixelRect grabRect(int width, int height, const std::optional<Rect>& crop);

// How a grabbed picture is laid into the delivered one.
struct FrameLayout {
  PixelRect dest;      // where the picture goes; the rest of the output is black
  bool scaled = true;  // false: copied pixel for pixel (clipped to the output)
};

// A picture of src size shown in an output of out size: sizes within one pixel of each other
// are copied without resampling (a one-pixel scale only blurs); otherwise the picture is
// scaled to the largest centred rectangle of its own aspect ratio.
FrameLayout frameLayout(int srcWidth, int srcHeight, int outWidth, int outHeight);

// A top-level window of a display, for hiding excluded applications.
struct StackedWindow {
  PixelRect frame;  // global display coordinates
  bool hidden = false;
};

// The visible parts of the hidden windows: each hidden window's frame minus every window in
// front of it (`frontToBack` is in stacking order, topmost first).
std::vector<PixelRect> hiddenAreas(const std::vector<StackedWindow>& frontToBack);

}  // namespace tavolu
