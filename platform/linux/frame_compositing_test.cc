#include "platform/linux/frame_compositing.h"

#include <gtest/gtest.h>

#include <cstring>

namespace tavolu {
namespace {

uint32_t pixel(const PixelBuffer& b, int x, int y) {
  const uint8_t* p = b.row(y) + x * 4;
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

std::shared_ptr<PixelBuffer> filled(int w, int h, uint32_t bgra) {
  auto b = PixelBuffer::make(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) std::memcpy(b->row(y) + x * 4, &bgra, 4);
  return b;
}

ImageView view(PixelBuffer& b) { return {b.bytes.data(), b.width, b.height, b.stride}; }

TEST(DrawCursor, BlendsPremultipliedPixelsAndClipsAtEveryEdge) {
  auto img = filled(8, 8, 0xFF404040);
  // 2x2 pointer: opaque white, transparent, half-transparent black (premultiplied 0), opaque red.
  CursorImage cursor{2, 2, {0xFFFFFFFF, 0x00000000, 0x80000000, 0xFFFF0000}};
  drawCursor(view(*img), cursor, 3, 3);
  EXPECT_EQ(pixel(*img, 3, 3), 0xFFFFFFFFu);
  EXPECT_EQ(pixel(*img, 4, 3), 0xFF404040u);
  EXPECT_EQ(pixel(*img, 3, 4), 0xFF202020u);
  EXPECT_EQ(pixel(*img, 4, 4), 0xFFFF0000u);
  // Partly or wholly outside: only the inside pixels change, nothing is written out of bounds
  // (run under a sanitizer or valgrind this would show).
  for (auto [x, y] : {std::pair{-1, -1}, {7, 7}, {-100, 3}, {3, 100}})
    drawCursor(view(*img), cursor, x, y);
  EXPECT_EQ(pixel(*img, 0, 0), 0xFFFF0000u);
  EXPECT_EQ(pixel(*img, 7, 7), 0xFFFFFFFFu);
  // An image with fewer pixels than its size says is ignored.
  drawCursor(view(*img), CursorImage{4, 4, {0xFFFFFFFF}}, 0, 0);
}

TEST(DrawClickRing, DarkensARingAroundThePointerOnlyAndClips) {
  auto img = filled(64, 64, 0xFFFFFFFF);
  drawClickRing(view(*img), 32, 32);
  EXPECT_EQ(pixel(*img, 32, 32), 0xFFFFFFFFu);                      // centre untouched
  EXPECT_LT(pixel(*img, 32 + kClickRingRadius, 32) & 0xFF, 0xFFu);  // on the ring
  EXPECT_EQ(pixel(*img, 0, 0), 0xFFFFFFFFu);                        // outside it
  drawClickRing(view(*img), 0, 63);                                 // partly outside: clipped
  drawClickRing(view(*img), -100, -100);
}

TEST(FillBlack, ClipsToThePicture) {
  auto img = filled(4, 4, 0xFFFFFFFF);
  fillBlack(view(*img), {{2, 2, 10, 10}, {-5, -5, 6, 6}});
  EXPECT_EQ(pixel(*img, 3, 3), 0xFF000000u);
  EXPECT_EQ(pixel(*img, 0, 0), 0xFF000000u);
  EXPECT_EQ(pixel(*img, 1, 1), 0xFFFFFFFFu);
}

TEST(RenderFrame, CopiesScalesAndLetterboxes) {
  auto src = filled(4, 4, 0xFF0000FF);
  // Copy into a frame one pixel larger: the extra column and row are black.
  auto out = filled(5, 5, 0x12345678);
  renderFrame(view(*src), frameLayout(4, 4, 5, 5), *out);
  EXPECT_EQ(pixel(*out, 3, 3), 0xFF0000FFu);
  EXPECT_EQ(pixel(*out, 4, 4), 0xFF000000u);
  EXPECT_EQ(pixel(*out, 4, 0), 0xFF000000u);
  // A square into a wide frame: pillarboxed.
  auto wide = filled(16, 8, 0x12345678);
  renderFrame(view(*src), frameLayout(4, 4, 16, 8), *wide);
  EXPECT_EQ(pixel(*wide, 0, 4), 0xFF000000u);
  // Resampling may round a uniform colour by a step or two.
  uint32_t mid = pixel(*wide, 8, 4);
  EXPECT_GE(mid & 0xFF, 0xFCu);
  EXPECT_EQ(mid & 0xFFFF00, 0u);
  EXPECT_EQ(pixel(*wide, 15, 4), 0xFF000000u);
}

}  // namespace
}  // namespace tavolu
