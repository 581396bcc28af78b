#include "capture/sources/list_sources.h"

#include <gtest/gtest.h>

#include "capture/sources/fake_device_discovery.h"
#include "capture/utility/fake_window_system.h"

namespace tavolu {
namespace {

Window window(uint32_t id, double w, double h, std::optional<std::string> title = "Doc",
              std::optional<std::string> app = "Editor", std::string bundle = "org.editor") {
  Window win;
  win.id = id;
  win.frame = {1, 2, w, h};
  win.layer = 0;
  win.title = std::move(title);
  if (app) win.app = Application{*app, bundle, 10};
  return win;
}

class ListSourcesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    devices.cameras = {{"virtual:pattern", "Tavolu Test Pattern"}};
    devices.microphones = {{"alsa_input.usb", "USB Mic"}};
    screen.content.displays = {Display{42, 1920, 1080, {0, 0, 1920, 1080}},
                               Display{7, 1280, 1024, {1920, 0, 1280, 1024}}};
  }
  std::vector<std::string> ids(const Json& event) {
    std::vector<std::string> out;
    for (auto& s : event["sources"]) out.push_back(s["id"]);
    return out;
  }
  FakeWindowSystem screen;
  FakeDeviceDiscovery devices;
};

TEST_F(ListSourcesTest, DisplaysAreNumberedInContentOrder) {
  Json e = sourcesEvent(screen, devices);
  ASSERT_EQ(e["sources"].size(), 2u);
  EXPECT_EQ(e["sources"][0], (Json{{"id", "screen:42"},
                                   {"displayId", "42"},
                                   {"name", "Display 1 \u00B7 1920 \u00D7 1080"},
                                   {"bounds", rect(0, 0, 1920, 1080)}}));
  EXPECT_EQ(e["sources"][1]["name"], "Display 2 \u00B7 1280 \u00D7 1024");
  EXPECT_EQ(e["cameras"],
            (Json::array({{{"id", "virtual:pattern"}, {"name", "Tavolu Test Pattern"}}})));
  EXPECT_EQ(e["microphones"][0]["id"], "alsa_input.usb");
  EXPECT_FALSE(e.contains("sourceError"));
  EXPECT_FALSE(e.contains("permission"));
}

TEST_F(ListSourcesTest, WindowsAreFilteredNamedAndOrderedFrontFirst) {
  screen.content.displays.clear();
  Window dock = window(6, 500, 500);
  dock.layer = 20;
  screen.content.windows = {
      window(1, 81, 61),                                       // smallest listed
      window(2, 80, 500),                                      // too narrow
      window(3, 500, 60),                                      // too low
      window(4, 300, 300, std::nullopt),                       // untitled
      window(5, 300, 300, "Notes", std::nullopt),              // no application
      dock,                                                    // not an ordinary window
      window(7, 300, 300, "Studio", "Tavolu", kHostBundleId),  // the host itself
      window(8, 300, 300, ""),                                 // empty title stays empty
      window(9, 300, 300, "Hidden from stacking list"),
  };
  screen.list = std::vector<Window>{window(8, 1, 1), window(5, 1, 1), window(1, 1, 1),
                                    window(4, 1, 1), window(5, 1, 1)};
  Json e = sourcesEvent(screen, devices);
  EXPECT_EQ(ids(e),
            (std::vector<std::string>{"window:8", "window:5", "window:1", "window:4", "window:9"}));
  EXPECT_EQ(e["sources"][0]["name"], "Editor \u2014 ");
  EXPECT_EQ(e["sources"][1]["name"], "Window \u2014 Notes");
  EXPECT_EQ(e["sources"][3]["name"], "Editor \u2014 Untitled");
  EXPECT_EQ(e["sources"][2]["bounds"], rect(1, 2, 81, 61));

  screen.list.reset();  // no stacking list: the content's own order
  EXPECT_EQ(ids(sourcesEvent(screen, devices)),
            (std::vector<std::string>{"window:1", "window:4", "window:5", "window:8", "window:9"}));
}

TEST_F(ListSourcesTest, PermissionAndQueryFailuresAreReportedInsideTheEvent) {
  screen.screenAccess = false;
  Json e = sourcesEvent(screen, devices);
  EXPECT_EQ(e["sources"], Json::array());
  EXPECT_EQ(e["sourceError"], "permission");
  EXPECT_EQ(e["permission"], false);
  EXPECT_EQ(e["cameras"].size(), 1u);

  screen.screenAccess = true;
  screen.contentError = Error("X11", 2, "The connection to the X server was lost.");
  e = sourcesEvent(screen, devices);
  EXPECT_EQ(e["sourceError"], "The connection to the X server was lost.");
  EXPECT_FALSE(e.contains("permission"));
  EXPECT_EQ(e["microphones"].size(), 1u);
}

}  // namespace
}  // namespace tavolu
