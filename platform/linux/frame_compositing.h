// Pixel work on a grabbed BGRA picture before it is delivered: hiding areas, drawing the
// pointer, and laying the picture into the delivered frame (copied or scaled).
#pragma once

#include <cstdint>
#include <vector>

#include "platform/linux/frame_geometry.h"
#include "platform/pixel_buffer.h"

namespace tavolu {

// A BGRA picture in memory that is not owned.
struct ImageView {
  uint8_t* data = nullptr;
  int width = 0, height = 0, stride = 0;
};

// A pointer image: premultiplied ARGB words as the X server's cursor image holds them.
struct CursorImage {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;
};

// Paints the rectangles (picture coordinates, clipped) black.
void fillBlack(const ImageView& image, const std::vector<PixelRect>& rects);

// Draws the pointer with its top-left corner at (x, y) in picture coordinates, blended over
// the picture and clipped to it.
void drawCursor(const ImageView& image, const CursorImage& cursor, int x, int y);

// Radius in pixels of the ring drawn around the pointer while a mouse button is held.
constexpr int kClickRingRadius = 18;

// Draws the click ring centred on (x, y), translucent dark, clipped to the picture.
void drawClickRing(const ImageView& image, int x, int y);

// Lays `src` into `out` as `layout` says; the rest of `out` is black.
void renderFrame(const ImageView& src, const FrameLayout& layout, PixelBuffer& out);

}  // namespace tavolu
