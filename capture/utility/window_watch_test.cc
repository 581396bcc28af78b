#include "capture/utility/window_watch.h"

#include <gtest/gtest.h>

#include "capture/utility/fake_window_system.h"

namespace tavolu {
namespace {

Window ordinary(uint32_t id, double w = 400, double h = 300) {
  Window win;
  win.id = id;
  win.frame = {10, 20, w, h};
  win.layer = 0;
  win.title = "Title " + std::to_string(id);
  win.app = Application{"App" + std::to_string(id), "app." + std::to_string(id), int32_t(id)};
  win.ownerPid = int32_t(id);
  return win;
}

TEST(FrontWindow, SkipsWindowsThatAreNotAnApplicationsFrontWindow) {
  struct Case {
    const char* name;
    Window first;
    bool eligible;
  };
  auto with = [](Window w, auto change) {
    change(w);
    return w;
  };
  const Case cases[] = {
      {"ordinary", ordinary(1), true},
      {"exactly 120 wide", ordinary(1, 120, 300), false},
      {"exactly 80 high", ordinary(1, 400, 80), false},
      {"121 x 81", ordinary(1, 121, 81), true},
      {"dock layer", with(ordinary(1), [](Window& w) { w.layer = 20; }), false},
      {"unknown layer", with(ordinary(1), [](Window& w) { w.layer.reset(); }), false},
      {"invisible overlay", with(ordinary(1), [](Window& w) { w.alpha = 0.0; }), false},
      {"alpha 0.01", with(ordinary(1), [](Window& w) { w.alpha = 0.01; }), false},
      {"alpha 0.02", with(ordinary(1), [](Window& w) { w.alpha = 0.02; }), true},
      {"excluded owner", with(ordinary(1), [](Window& w) { w.ownerPid = 77; }), false},
      {"no owner pid", with(ordinary(1), [](Window& w) { w.ownerPid.reset(); }), true},
  };
  for (const auto& c : cases) {
    auto front = frontWindow({c.first, ordinary(2)}, 77);
    ASSERT_TRUE(front) << c.name;
    EXPECT_EQ(front->id, c.eligible ? 1u : 2u) << c.name;
  }
  EXPECT_FALSE(frontWindow({}, -1));
}

TEST(FrontWindow, LineHasSortedMembersAndDefaults) {
  Window w = ordinary(5);
  EXPECT_EQ(frontLine(w),
            R"({"event":"front","window":{"app":"App5","height":300.0,"id":5,"title":"Title 5",)"
            R"("width":400.0,"x":10.0,"y":20.0}})");
  w.app.reset();
  w.title.reset();
  EXPECT_EQ(frontLine(w),
            R"({"event":"front","window":{"app":"App","height":300.0,"id":5,"title":"",)"
            R"("width":400.0,"x":10.0,"y":20.0}})");
  EXPECT_EQ(frontLine(std::nullopt), R"({"event":"front"})");
}

TEST(WindowWatch, PrintsTheFirstStateAndThenOnlyChanges) {
  FakeWindowSystem windows;
  std::vector<std::string> printed;
  WindowWatch watch(windows, -1, [&](const std::string& l) { printed.push_back(l); });
  windows.list = std::vector<Window>{};
  watch.tick();
  watch.tick();
  windows.list = std::vector<Window>{ordinary(1)};
  watch.tick();
  watch.tick();
  windows.list->at(0).frame.x = 50;  // moved
  watch.tick();
  windows.list.reset();  // no list at all: same as no window
  watch.tick();
  ASSERT_EQ(printed.size(), 4u);
  EXPECT_EQ(printed[0], R"({"event":"front"})");
  EXPECT_NE(printed[1], printed[2]);
  EXPECT_EQ(printed[3], R"({"event":"front"})");
}

}  // namespace
}  // namespace tavolu
