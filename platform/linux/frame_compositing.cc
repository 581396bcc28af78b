#include "platform/linux/frame_compositing.h"

#include <libyuv/planar_functions.h>
#include <libyuv/scale_argb.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tavolu {
namespace {

PixelRect bounds(const ImageView& image) { return {0, 0, image.width, image.height}; }

void fillRect(uint8_t* data, int stride, const PixelRect& r) {
  for (int y = r.y; y < r.bottom(); ++y) {
    uint32_t* row = reinterpret_cast<uint32_t*>(data + size_t(y) * stride) + r.x;
    std::fill(row, row + r.width, 0xFF000000u);
  }
}

}  // namespace

void fillBlack(const ImageView& image, const std::vector<PixelRect>& rects) {
  for (const PixelRect& r : rects) {
    PixelRect c = intersect(r, bounds(image));
    if (!c.empty()) fillRect(image.data, image.stride, c);
  }
}

void drawCursor(const ImageView& image, const CursorImage& cursor, int x, int y) {
  if (cursor.pixels.size() < size_t(cursor.width) * cursor.height) return;
  PixelRect area = intersect({x, y, cursor.width, cursor.height}, bounds(image));
  for (int py = area.y; py < area.bottom(); ++py) {
    uint8_t* dst = image.data + size_t(py) * image.stride + size_t(area.x) * 4;
    const uint32_t* src = cursor.pixels.data() + size_t(py - y) * cursor.width + (area.x - x);
    for (int px = 0; px < area.width; ++px, dst += 4) {
      uint32_t p = src[px];
      uint32_t a = p >> 24;
      if (a == 0) continue;
      uint32_t inv = 255 - a;
      // Premultiplied "over": dst = src + dst * (1 - alpha).
      dst[0] = uint8_t(std::min<uint32_t>(255, (p & 0xFF) + (dst[0] * inv + 127) / 255));
      dst[1] = uint8_t(std::min<uint32_t>(255, ((p >> 8) & 0xFF) + (dst[1] * inv + 127) / 255));
      dst[2] = uint8_t(std::min<uint32_t>(255, ((p >> 16) & 0xFF) + (dst[2] * inv + 127) / 255));
      dst[3] = 255;
    }
  }
}

void drawClickRing(const ImageView& image, int x, int y) {
  constexpr double kHalfWidth = 2.0;
  constexpr uint32_t kAlpha = 150;  // of 255; the ring is dark grey over the picture
  int r = kClickRingRadius + 2;
  PixelRect area = intersect({x - r, y - r, 2 * r + 1, 2 * r + 1}, bounds(image));
  for (int py = area.y; py < area.bottom(); ++py) {
    uint8_t* dst = image.data + size_t(py) * image.stride + size_t(area.x) * 4;
    for (int px = area.x; px < area.right(); ++px, dst += 4) {
      double d = std::hypot(px - x, py - y);
      if (std::fabs(d - kClickRingRadius) > kHalfWidth) continue;
      for (int ch = 0; ch < 3; ++ch)
        dst[ch] = uint8_t((dst[ch] * (255 - kAlpha) + 40 * kAlpha) / 255);
      dst[3] = 255;
    }
  }
}

void renderFrame(const ImageView& src, const FrameLayout& layout, PixelBuffer& out) {
  PixelRect dest = intersect(layout.dest, {0, 0, out.width, out.height});
  // Black around the picture (only where it does not cover the frame).
  if (dest != PixelRect{0, 0, out.width, out.height}) {
    std::vector<StackedWindow> cover = {{dest, false}, {{0, 0, out.width, out.height}, true}};
    for (const PixelRect& r : hiddenAreas(cover)) fillRect(out.bytes.data(), out.stride, r);
  }
  if (dest.empty() || !src.data) return;
  uint8_t* dst = out.row(dest.y) + size_t(dest.x) * 4;
  if (layout.scaled) {
    libyuv::ARGBScale(src.data, src.stride, src.width, src.height, dst, out.stride, dest.width,
                      dest.height, libyuv::kFilterBilinear);
  } else {
    libyuv::ARGBCopy(src.data, src.stride, dst, out.stride, std::min(dest.width, src.width),
                     std::min(dest.height, src.height));
  }
}

}  // namespace tavolu
