#include "platform/linux/frame_geometry.h"

#include <gtest/gtest.h>

#include <cmath>

namespace tavolu {
namespace {

TEST(GrabRect, CropsAreWidenedToWholePixelsAndClippedToTheSource) {
  struct Case {
    std::optional<Rect> crop;
    PixelRect expected;
  } cases[] = {
      {std::nullopt, {0, 0, 1920, 1080}},
      {Rect{10, 20, 800, 600}, {10, 20, 800, 600}},
      {Rect{10.5, 20.25, 100, 100}, {10, 20, 101, 101}},
      {Rect{1800, 1000, 400, 400}, {1800, 1000, 120, 80}},  // reaches past the source
      {Rect{110, 120, -100, -100}, {10, 20, 100, 100}},     // counted from the other edge
      {Rect{2000, 0, 100, 100}, {}},                        // outside
      {Rect{0, 0, 1e300, 1e300}, {0, 0, 1920, 1080}},
  };
  for (const Case& c : cases) EXPECT_EQ(grabRect(1920, 1080, c.crop), c.expected);
  EXPECT_TRUE(grabRect(1920, 1080, Rect{0, 0, std::nan(""), 10}).empty());
}

TEST(FrameLayout, CopiesNearlyEqualSizesAndLetterboxesOtherAspectRatios) {
  struct Case {
    int sw, sh, ow, oh;
    FrameLayout expected;
  } cases[] = {
      {1920, 1080, 1920, 1080, {{0, 0, 1920, 1080}, false}},
      {801, 601, 800, 600, {{0, 0, 800, 600}, false}},  // odd size rounded down to even
      {1, 1, 2, 2, {{0, 0, 1, 1}, false}},
      {5120, 2880, 3840, 2160, {{0, 0, 3840, 2160}, true}},
      {800, 800, 800, 600, {{100, 0, 600, 600}, true}},  // window grew taller: pillarbox
      {1600, 600, 800, 600, {{0, 150, 800, 300}, true}},
      {4269, 2400, 3838, 2158, {{0, 0, 3838, 2158}, true}},
  };
  for (const Case& c : cases) {
    FrameLayout l = frameLayout(c.sw, c.sh, c.ow, c.oh);
    EXPECT_EQ(l.dest, c.expected.dest) << c.sw << "x" << c.sh << " -> " << c.ow << "x" << c.oh;
    EXPECT_EQ(l.scaled, c.expected.scaled);
  }
  EXPECT_TRUE(frameLayout(0, 10, 10, 10).dest.empty());
}

TEST(HiddenAreas, HidesOnlyTheVisiblePartsOfHiddenWindows) {
  // A kept window in front covers the middle of a hidden one; a hidden window behind a kept
  // one that covers it entirely leaves nothing.
  std::vector<StackedWindow> stack = {
      {{40, 0, 20, 100}, false},
      {{0, 0, 100, 100}, true},
      {{300, 300, 50, 50}, false},
      {{310, 310, 10, 10}, true},
  };
  std::vector<PixelRect> hidden = hiddenAreas(stack);
  long area = 0;
  for (const PixelRect& r : hidden) {
    area += long(r.width) * r.height;
    EXPECT_TRUE(intersect(r, {40, 0, 20, 100}).empty());
    EXPECT_FALSE(intersect(r, {0, 0, 100, 100}).empty());
  }
  EXPECT_EQ(area, 100 * 100 - 20 * 100);
}

}  // namespace
}  // namespace tavolu
