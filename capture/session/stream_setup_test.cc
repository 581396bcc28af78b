#include "capture/session/stream_setup.h"

#include <gtest/gtest.h>

namespace tavolu {
namespace {

TEST(StartOptions, TypeTestsAndDefaults) {
  StartOptions d = parseStartOptions(Json::object());
  EXPECT_EQ(d.source, "");
  EXPECT_EQ(d.fps, 30);
  EXPECT_TRUE(d.cursor);
  EXPECT_FALSE(d.microphone);
  EXPECT_FALSE(d.hasRegionMember);

  struct Case {
    const char* json;
    int64_t fps, countdown;
  };
  const Case cases[] = {
      {R"({"fps":60,"countdown":3})", 60, 3},
      {R"({"fps":60.0,"countdown":9})", 60, 5},
      {R"({"fps":29.97,"countdown":2.5})", 30, 0},
      {R"({"fps":"60","countdown":-3})", 30, 0},
      {R"({"fps":0})", 30, 0},
      {R"({"fps":-5})", 30, 0},
      {R"({"fps":100000})", kMaxFps, 0},
      {R"({"fps":1e300})", 30, 0},
  };
  for (const auto& c : cases) {
    StartOptions o = parseStartOptions(Json::parse(c.json));
    EXPECT_EQ(o.fps, c.fps) << c.json;
    EXPECT_EQ(o.countdown, c.countdown) << c.json;
  }
}

TEST(StartOptions, RegionAndWindowLists) {
  auto o = parseStartOptions(Json::parse(R"({"region":{"x":10,"width":100.5}})"));
  ASSERT_TRUE(o.region);
  EXPECT_EQ(o.region->x, 10);
  EXPECT_FALSE(o.region->y);
  EXPECT_EQ(o.region->width, 100.5);

  for (const char* ignored :
       {R"({"region":null})", R"({"region":{"x":"1"}})", R"({"region":[1]})"}) {
    auto r = parseStartOptions(Json::parse(ignored));
    EXPECT_FALSE(r.region) << ignored;
    EXPECT_TRUE(r.hasRegionMember) << ignored;
  }
  EXPECT_EQ(parseStartOptions(Json::parse(R"({"includeWindows":[7730,5021]})")).includeWindows,
            (std::vector<uint32_t>{7730, 5021}));
  EXPECT_TRUE(
      parseStartOptions(Json::parse(R"({"includeWindows":[1,"2"]})")).includeWindows.empty());
}

TEST(CursorMode, FollowsTheSourceKindTable) {
  struct Case {
    SourceKind kind;
    const char* json;
    bool smooth, shows, clicksDrawn, clickTelemetry, shapeTelemetry;
  };
  const Case cases[] = {
      {SourceKind::display, R"({})", false, true, false, true, true},
      {SourceKind::display, R"({"cursorMode":"smooth"})", true, false, false, true, true},
      {SourceKind::display, R"({"editableCursor":false,"cursorMode":"smooth"})", true, false, false,
       true, true},
      {SourceKind::display, R"({"editableCursor":true,"cursorMode":"default"})", true, false, false,
       true, true},
      {SourceKind::display, R"({"cursor":false})", false, false, false, true, true},
      {SourceKind::window, R"({"cursorMode":"smooth"})", false, true, false, true, false},
      {SourceKind::other, R"({"clicks":true,"editableCursor":true})", false, true, true, false,
       false},
  };
  for (const auto& c : cases) {
    auto d = decideCursor(c.kind, parseStartOptions(Json::parse(c.json)));
    EXPECT_EQ(d.smooth, c.smooth) << c.json;
    EXPECT_EQ(d.showsCursor, c.shows) << c.json;
    EXPECT_EQ(d.showMouseClicks, c.clicksDrawn) << c.json;
    EXPECT_EQ(d.clickTelemetry, c.clickTelemetry) << c.json;
    EXPECT_EQ(d.shapeTelemetry, c.shapeTelemetry) << c.json;
  }
}

TEST(RecordedArea, RegionMustFitTheSource) {
  const Rect display{1920, 0, 1920, 1080};
  struct Case {
    std::optional<Region> region;
    std::optional<Rect> recorded;
  };
  const Case cases[] = {
      {std::nullopt, display},
      {Region{}, display},  // all members default: the whole source
      {Region{10, 20, 800, 600}, Rect{1930, 20, 800, 600}},
      {Region{0, 0, 63, 400}, std::nullopt},
      {Region{0, 0, 400, 63}, std::nullopt},
      {Region{100, {}, {}, {}}, std::nullopt},  // width defaults to 1920: past the edge
      {Region{-1, 0, 100, 100}, std::nullopt},
      {Region{1856, 1016, 64, 64}, Rect{3776, 1016, 64, 64}},
      {Region{200, 200, -100, -100}, Rect{2020, 100, 100, 100}},  // from the other edge
      {Region{50, 0, -100, 100}, std::nullopt},
  };
  for (const auto& c : cases) {
    auto a = recordedArea(display, c.region);
    ASSERT_EQ(a.has_value(), c.recorded.has_value());
    if (a) EXPECT_EQ(a->recorded, *c.recorded);
  }
}

TEST(PixelSize, DensityCapAndEvenSizes) {
  struct Case {
    double w, h, scale;
    int pw, ph;
  };
  const Case cases[] = {
      {2560, 1440, 2, 3840, 2160},     {1728, 1117, 2, 3456, 2234}, {2056, 1329, 2, 3840, 2482},
      {1000.5, 700.25, 2, 2000, 1400}, {4269, 2400, 1, 3838, 2158}, {1, 1, 1, 2, 2},
      {1920, 1080, 1, 1920, 1080},     {1081, 1081, 1, 1080, 1080}, {0, 0, 1, 2, 2},
  };
  for (const auto& c : cases) {
    auto p = pixelSize(c.w, c.h, c.scale);
    EXPECT_EQ(p.width, c.pw) << c.w << "x" << c.h;
    EXPECT_EQ(p.height, c.ph) << c.w << "x" << c.h;
  }
}

TEST(SourceNumber, ParsesUnsigned32BitNumbersOnly) {
  EXPECT_EQ(sourceNumber("screen:1", "screen:"), 1u);
  EXPECT_EQ(sourceNumber("window:4294967295", "window:"), 4294967295u);
  for (const char* bad : {"screen:", "screen:abc", "screen:-1", "screen:+1", "screen: 1",
                          "screen:4294967296", "screen:99999999999999999999", "window:1"})
    EXPECT_FALSE(sourceNumber(bad, "screen:")) << bad;
}

}  // namespace
}  // namespace tavolu
