#include "segment/matte/bilateral_upsampler.h"

#include <gtest/gtest.h>

#include <vector>

namespace tavolu::segment {
namespace {

struct Plane {
  int w, h;
  std::vector<uint8_t> px;
  Plane(int w, int h, uint8_t v = 0) : w(w), h(h), px(static_cast<size_t>(w) * h, v) {}
  uint8_t& at(int x, int y) { return px[static_cast<size_t>(y) * w + x]; }
};

Plane run(const Plane& guide, const Plane& mask) {
  WorkerPool pool(2);
  BilateralUpsampler upsampler;
  Plane out(guide.w, guide.h, 77);
  upsampler.upsample(guide.px.data(), guide.w, guide.h, guide.w, mask.px.data(), mask.w, mask.h,
                     mask.w, out.px.data(), out.w, pool);
  return out;
}

TEST(BilateralUpsampler, PlainMasksStayPlain) {
  Plane guide(64, 36);
  for (int y = 0; y < 36; ++y)
    for (int x = 0; x < 64; ++x) guide.at(x, y) = static_cast<uint8_t>((x * 37 + y * 11) % 256);
  for (uint8_t v : {0, 255, 100}) {
    Plane out = run(guide, Plane(16, 9, v));
    for (uint8_t o : out.px) ASSERT_EQ(o, v);
  }
}

TEST(BilateralUpsampler, EdgeFollowsTheGuideNotTheMaskGrid) {
  // The guide has a sharp edge at x = 30 (dark left, bright right). The mask, 4 times smaller,
  // can only say "half person" for its column 7, which covers x = 28..31: upsampled plainly,
  // pixels 26..33 would all come out in shades of grey.
  Plane guide(64, 64), mask(16, 16);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) guide.at(x, y) = x < 30 ? 40 : 200;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) mask.at(x, y) = x < 7 ? 0 : x == 7 ? 128 : 255;
  Plane out = run(guide, mask);
  for (int y = 0; y < 64; ++y) {
    for (int x = 24; x < 30; ++x) EXPECT_LT(out.at(x, y), 40) << x << "," << y;
    for (int x = 30; x < 38; ++x) EXPECT_GT(out.at(x, y), 215) << x << "," << y;
  }
}

TEST(BilateralUpsampler, FlatGuideGivesASmoothRamp) {
  // Without guide edges the weights are spatial only: a step in the mask becomes a monotonic
  // ramp with its midpoint where the step is.
  Plane guide(64, 8, 128), mask(16, 2);
  for (int x = 8; x < 16; ++x) mask.at(x, 0) = mask.at(x, 1) = 255;
  Plane out = run(guide, mask);
  for (int x = 1; x < 64; ++x) EXPECT_GE(out.at(x, 4), out.at(x - 1, 4));
  EXPECT_EQ(out.at(0, 4), 0);
  EXPECT_EQ(out.at(63, 4), 255);
  EXPECT_NEAR(out.at(31, 4) + out.at(32, 4), 255, 12);
}

TEST(BilateralUpsampler, MaskLargerThanTheGuide) {
  // A matte only 2 rows high from a 144-row mask: every value stays a proper blend.
  Plane guide(1024, 2, 128), mask(256, 144);
  for (int y = 0; y < 144; ++y)
    for (int x = 0; x < 256; ++x) mask.at(x, y) = x < 128 ? 0 : 255;
  Plane out = run(guide, mask);
  EXPECT_EQ(out.at(0, 0), 0);
  EXPECT_EQ(out.at(1023, 1), 255);
}

}  // namespace
}  // namespace tavolu::segment
