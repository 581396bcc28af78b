// Filters and the interactive picker, driven with real pointer and key input (xdotool).
#include "platform/linux/x11_screen_capture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <future>

#include "platform/linux/x11_window_system.h"
#include "tests/support/test_window_client.h"

namespace tavolu {
namespace {

constexpr const char* kHost = "com.orvenda.studio";

Window window(uint32_t id, Rect frame, std::string bundleId, int64_t layer = 0) {
  Window w;
  w.id = id;
  w.frame = frame;
  w.layer = layer;
  w.app = Application{bundleId, bundleId, int32_t(id)};
  return w;
}

TEST(X11ScreenCapturePicker, AClickChoosesTheTopmostOrdinaryWindowElseTheDisplay) {
  ShareableContent content;
  Display left{1, 1920, 1080, {0, 0, 1920, 1080}}, right{2, 1280, 1024, {1920, 0, 1280, 1024}};
  content.displays = {left, right};
  content.windows = {window(10, {100, 100, 200, 200}, kHost),            // the host: looked through
                     window(11, {100, 100, 50, 50}, "dock", 20),         // a panel: looked through
                     window(12, {150, 150, 400, 400}, "org.example.a"),  // ordinary
                     window(13, {0, 0, 1000, 1000}, "org.example.b")};
  content.applications = {*content.windows[0].app, *content.windows[2].app};
  X11ScreenCapture capture(nullptr);

  struct Case {
    Point click;
    ContentFilter::Style style;
    uint32_t id;  // window or display
  } cases[] = {
      {{160, 160}, ContentFilter::Style::window, 12},
      {{120, 120}, ContentFilter::Style::window, 13},  // host and panel in front of window 13
      {{1500, 500}, ContentFilter::Style::display, 1},
      {{2000, 10}, ContentFilter::Style::display, 2},
  };
  for (const Case& c : cases) {
    ContentFilter f = capture.filterAt(content, c.click, kHost);
    EXPECT_EQ(f.style, c.style) << c.click.x << "," << c.click.y;
    if (c.style == ContentFilter::Style::window) {
      EXPECT_EQ(f.window->id, c.id);
      EXPECT_EQ(f.contentRect, f.window->frame);
    } else {
      EXPECT_EQ(f.display->id, c.id);
      ASSERT_EQ(f.excludedApplications.size(), 1u);  // the host stays out of the display
      EXPECT_EQ(f.excludedApplications[0].bundleId, kHost);
    }
  }
}

class X11PickerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "DISPLAY is not set";
  }
  // Runs the picker and, once it holds the pointer, the given xdotool command.
  ContentFilter pickWith(const std::string& xdotool) {
    std::promise<void> shown;
    X11ScreenCapture capture(std::make_shared<X11WindowSystem>(),
                             {.pickerShown = [&] { shown.set_value(); }, .pulseServer = {}});
    auto result = std::async(std::launch::async, [&] { return capture.pick(kHost); });
    if (shown.get_future().wait_for(std::chrono::seconds(10)) != std::future_status::ready)
      ADD_FAILURE() << "the picker did not take the pointer";
    EXPECT_EQ(std::system(("xdotool " + xdotool).c_str()), 0);
    return result.get();
  }
};

TEST_F(X11PickerTest, EscapeCancels) {
  try {
    pickWith("key Escape");
    FAIL() << "no cancellation";
  } catch (const Error& e) {
    EXPECT_EQ(e.domain(), "Capture");
    EXPECT_EQ(e.code(), 9);
    EXPECT_EQ(e.localizedDescription(), "Screen selection was cancelled.");
  }
}

TEST_F(X11PickerTest, ClickingAWindowChoosesIt) {
  test::TestWindow w({"--x", "1500", "--y", "800", "--width", "200", "--height", "150"});
  ContentFilter f = pickWith("mousemove 1600 870 click 1");
  ASSERT_EQ(f.style, ContentFilter::Style::window);
  EXPECT_EQ(f.window->id, w.id());
}

}  // namespace
}  // namespace tavolu
