#include "capture/telemetry/cursor_shape.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <png.h>

#include <cstring>
#include <random>

#include "capture/telemetry/cursor_png.h"

namespace tavolu {
namespace {

CursorImage solid(int w, int h, uint32_t argb, Point hot = {0, 0}) {
  return CursorImage{w, h, hot, std::vector<uint32_t>(static_cast<size_t>(w) * h, argb)};
}

CursorImage noise(int w, int h) {
  std::mt19937 random(7);
  CursorImage image{w, h, {0, 0}, std::vector<uint32_t>(static_cast<size_t>(w) * h)};
  for (auto& p : image.argb) p = random() | 0xff000000u;  // opaque, incompressible
  return image;
}

std::vector<uint8_t> decodeRgba(const std::string& png, int& w, int& h) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  EXPECT_TRUE(png_image_begin_read_from_memory(&image, png.data(), png.size()));
  image.format = PNG_FORMAT_RGBA;
  std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
  EXPECT_TRUE(png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr));
  w = static_cast<int>(image.width);
  h = static_cast<int>(image.height);
  return pixels;
}

TEST(CursorPng, EncodesStraightAlphaRgba) {
  // Premultiplied 0xAARRGGBB in, straight RGBA out.
  CursorImage image{4, 1, {0, 0}, {0xffff0000, 0x80400000, 0x00000000, 0xff102030}};
  auto png = encodeCursorPng(image);
  ASSERT_TRUE(png);
  int w = 0, h = 0;
  auto rgba = decodeRgba(*png, w, h);
  EXPECT_EQ(w, 4);
  EXPECT_EQ(h, 1);
  const std::vector<uint8_t> expected{255, 0,  0,  255,  // opaque red
                                      128, 0,  0,  128,  // half-transparent red
                                      0,   0,  0,  0,    // transparent
                                      16,  32, 48, 255};
  EXPECT_EQ(rgba, expected);
}

TEST(CursorPng, RefusesMalformedImages) {
  EXPECT_FALSE(encodeCursorPng(CursorImage{}));
  EXPECT_FALSE(encodeCursorPng(CursorImage{2, 2, {0, 0}, {1, 2, 3}}));
  EXPECT_FALSE(encodeCursorPng(CursorImage{-1, 1, {0, 0}, {}}));
}

TEST(CursorPng, Base64IsStandardAndPadded) {
  EXPECT_EQ(base64Encoded(""), "");
  EXPECT_EQ(base64Encoded("f"), "Zg==");
  EXPECT_EQ(base64Encoded("fo"), "Zm8=");
  EXPECT_EQ(base64Encoded("foobar"), "Zm9vYmFy");
  EXPECT_EQ(base64Encoded(std::string("\xfb\xff", 2)), "+/8=");
}

TEST(CursorShape, ReportsAChangedCursorOnce) {
  const auto arrow = solid(16, 16, 0xff000000, {1, 1});
  const auto arrowOtherHotSpot = solid(16, 16, 0xff000000, {8, 8});
  const auto beam = solid(8, 32, 0xff000000, {4, 16});  // same bytes, other size
  const auto big = noise(200, 200);
  struct Step {
    const char* what;
    const CursorImage* image;
    bool clearFirst;
    bool reported;
  };
  const std::vector<Step> steps{
      {"first cursor", &arrow, false, true},
      {"same cursor", &arrow, false, false},
      {"same cursor again", &arrow, false, false},
      {"same pixels, other hot spot", &arrowOtherHotSpot, false, true},
      {"back to the first hot spot", &arrow, false, true},
      {"same bytes, other size", &beam, false, true},
      {"after the cache was cleared", &beam, true, true},
      {"too large a PNG", &big, false, false},
      {"too large, tried again", &big, false, false},
      {"the cache kept the cursor before", &beam, false, false},
  };
  CursorShapeCache cache;
  for (const auto& step : steps) {
    SCOPED_TRACE(step.what);
    if (step.clearFirst) cache.clear();
    auto shape = takeChangedShape(*step.image, cache);
    EXPECT_EQ(shape.has_value(), step.reported);
    if (!shape) continue;
    EXPECT_EQ(shape->width, step.image->width);
    EXPECT_EQ(shape->height, step.image->height);
    EXPECT_EQ(shape->hotSpot.x, step.image->hotSpot.x);
    EXPECT_EQ(shape->hotSpot.y, step.image->hotSpot.y);
    gsize length = 0;
    guchar* png = g_base64_decode(shape->pngBase64.c_str(), &length);
    EXPECT_LT(length, kMaxCursorPngBytes);
    EXPECT_EQ(std::memcmp(png, "\x89PNG", 4), 0);
    g_free(png);
  }
  ASSERT_GE(encodeCursorPng(big)->size(), kMaxCursorPngBytes);  // the fixture is over the limit
}

}  // namespace
}  // namespace tavolu
