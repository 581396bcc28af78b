#include "capture/telemetry/click_sampler.h"

#include <gtest/gtest.h>

#include <vector>

#include "capture/telemetry/recorded_area.h"

namespace tavolu {
namespace {

struct Step {
  PointerState now;
  std::optional<Click> expected;
};

struct ClickCase {
  const char* name;
  bool leftAtStart, rightAtStart;
  std::vector<Step> steps;
};

constexpr Rect kArea{100, 50, 200, 100};
constexpr Point kIn{150, 100};  // (0.25, 0.5) of the area
constexpr Point kOut{50, 100};

PointerState up(Point p = kIn) { return {p, false, false}; }
PointerState left(Point p = kIn) { return {p, true, false}; }
PointerState right(Point p = kIn) { return {p, false, true}; }
PointerState both(Point p = kIn) { return {p, true, true}; }
Click at(int button, Point p = {0.25, 0.5}) { return {p, button}; }

TEST(ClickSampler, ReportsNewPressesOnlyInsideTheArea) {
  const std::vector<ClickCase> cases{
      {"left press, hold, release, press again",
       false,
       false,
       {{up(), {}}, {left(), at(0)}, {left(), {}}, {up(), {}}, {left(), at(0)}}},
      {"right press", false, false, {{up(), {}}, {right(), at(1)}, {right(), {}}}},
      {"both in one sample: left wins", false, false, {{both(), at(0)}, {both(), {}}}},
      {"right pressed while left held: left wins",
       false,
       false,
       {{left(), at(0)}, {both(), at(0)}}},
      {"left pressed while right held", false, false, {{right(), at(1)}, {both(), at(0)}}},
      {"left held at start clicks only once pressed again",
       true,
       false,
       {{left(), {}}, {up(), {}}, {left(), at(0)}}},
      {"right held at start, left pressed", false, true, {{right(), {}}, {both(), at(0)}}},
      {"press outside, held while moving in",
       false,
       false,
       {{left(kOut), {}}, {left(kIn), {}}, {up(kIn), {}}, {left(kIn), at(0)}}},
      {"release outside is remembered",
       false,
       false,
       {{left(kIn), at(0)}, {up(kOut), {}}, {left(kIn), at(0)}}},
      {"top-left corner is inside", false, false, {{left({100, 50}), at(0, {0, 0})}}},
      {"right edge is outside", false, false, {{left({300, 60}), {}}}},
      {"bottom edge is outside", false, false, {{right({120, 150}), {}}}},
      {"just inside the bottom-right corner",
       false,
       false,
       {{left({299.5, 149.5}), at(0, {0.9975, 0.995})}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ClickSampler sampler;
    sampler.reset(c.leftAtStart, c.rightAtStart);
    for (size_t i = 0; i < c.steps.size(); ++i) {
      SCOPED_TRACE("sample " + std::to_string(i));
      auto click = sampler.sample(c.steps[i].now, kArea);
      ASSERT_EQ(click.has_value(), c.steps[i].expected.has_value());
      if (!click) continue;
      EXPECT_EQ(click->button, c.steps[i].expected->button);
      EXPECT_DOUBLE_EQ(click->position.x, c.steps[i].expected->position.x);
      EXPECT_DOUBLE_EQ(click->position.y, c.steps[i].expected->position.y);
    }
  }
}

TEST(ClickSampler, FollowsTheAreaFromSampleToSample) {
  // A followed window moves between two clicks: each is relative to the area of its sample.
  ClickSampler sampler;
  sampler.reset(false, false);
  auto first = sampler.sample(left({200, 100}), kArea);
  sampler.sample(up({200, 100}), kArea);
  auto second = sampler.sample(left({200, 100}), Rect{150, 50, 200, 100});
  ASSERT_TRUE(first && second);
  EXPECT_DOUBLE_EQ(first->position.x, 0.5);
  EXPECT_DOUBLE_EQ(second->position.x, 0.25);
}

TEST(RecordedArea, ContainmentAndNormalisation) {
  struct Case {
    const char* name;
    Rect area;
    Point p;
    bool inside;
    std::optional<Point> normalized;
  };
  const std::vector<Case> cases{
      {"centre", {0, 0, 100, 50}, {50, 25}, true, Point{0.5, 0.5}},
      {"left of the area: negative, not clamped",
       {10, 10, 100, 100},
       {0, 60},
       false,
       Point{-0.1, 0.5}},
      {"past the bottom-right: above one", {0, 0, 100, 100}, {150, 200}, false, Point{1.5, 2}},
      {"exactly the right edge", {0, 0, 100, 100}, {100, 50}, false, Point{1, 0.5}},
      {"negative width is the same area", {100, 0, -100, 100}, {20, 50}, true, Point{0.2, 0.5}},
      {"area on a second display left of the main one",
       {-1920, 0, 1920, 1080},
       {-960, 540},
       true,
       Point{0.5, 0.5}},
      {"empty area: nothing inside, no fractions", {10, 10, 0, 100}, {10, 20}, false, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(areaContains(c.area, c.p), c.inside);
    auto n = normalizedIn(c.area, c.p);
    ASSERT_EQ(n.has_value(), c.normalized.has_value());
    if (!n) continue;
    EXPECT_DOUBLE_EQ(n->x, c.normalized->x);
    EXPECT_DOUBLE_EQ(n->y, c.normalized->y);
  }
}

}  // namespace
}  // namespace tavolu
