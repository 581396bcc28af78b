// The X11 input backend against a private Xvfb, driven with real input through xdotool.
#include "platform/linux/x11_input.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/error.h"
#include "tests/support/child_process.h"

namespace tavolu {
namespace {

using test::ChildProcess;

// X key codes (evdev code + 8) of a few keys.
constexpr uint8_t kControlL = 37, kC = 54, kZ = 52, kMinus = 20, kGrave = 49, kSemicolon = 47;

class X11InputTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    xvfb_ = new ChildProcess({"/usr/bin/Xvfb", "-displayfd", "1", "-screen", "0", "1280x800x24",
                              "-nolisten", "tcp", "+extension", "XFIXES", "+extension", "XTEST",
                              "-noreset"});
    auto number = xvfb_->readLine(std::chrono::seconds(20));
    ASSERT_TRUE(number) << "Xvfb did not start: " << xvfb_->stderrText();
    display_ = ":" + *number;
  }
  static void TearDownTestSuite() {
    if (!xvfb_) return;
    xvfb_->signal(SIGTERM);
    xvfb_->wait();
    delete xvfb_;
    xvfb_ = nullptr;
  }

  void SetUp() override {
    ASSERT_FALSE(display_.empty());
    input_ = X11Input::open(display_.c_str());
  }
  void TearDown() override {
    // Leave nothing held and the US layout in place for the next test.
    run("/usr/bin/xdotool", {"keyup", "ctrl", "shift", "alt", "super", "c", "z"});
    run("/usr/bin/xdotool", {"mouseup", "1"});
    run("/usr/bin/xdotool", {"mouseup", "3"});
    run("/usr/bin/setxkbmap", {"us"});
  }

  // Runs a tool against the private display and waits for it (its requests have then been
  // processed by the server).
  static int run(const std::string& tool, std::vector<std::string> args) {
    args.insert(args.begin(), tool);
    ChildProcess child(args, {{"DISPLAY", display_}});
    return child.wait(std::chrono::seconds(20)).value_or(-1);
  }

  static inline ChildProcess* xvfb_ = nullptr;
  static inline std::string display_;
  std::shared_ptr<X11Input> input_;
};

TEST_F(X11InputTest, PointerLocationAndButtons) {
  ASSERT_EQ(run("/usr/bin/xdotool", {"mousemove", "123", "45"}), 0);
  auto state = input_->pointer();
  ASSERT_TRUE(state);
  EXPECT_EQ(state->location.x, 123);
  EXPECT_EQ(state->location.y, 45);
  EXPECT_FALSE(state->left);
  EXPECT_FALSE(state->right);

  struct Case {
    std::vector<std::string> args;
    bool left, right;
  };
  const std::vector<Case> cases{
      {{"mousedown", "1"}, true, false},
      {{"mousedown", "3"}, true, true},
      {{"mouseup", "1"}, false, true},
      {{"mouseup", "3"}, false, false},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(run("/usr/bin/xdotool", c.args), 0);
    state = input_->pointer();
    ASSERT_TRUE(state);
    EXPECT_EQ(state->left, c.left) << c.args[0] << " " << c.args[1];
    EXPECT_EQ(state->right, c.right) << c.args[0] << " " << c.args[1];
  }
}

TEST_F(X11InputTest, KeysAndModifiers) {
  auto keys = input_->keymap();
  ASSERT_TRUE(keys);
  EXPECT_FALSE(keys->test(kC));
  EXPECT_EQ(input_->modifiers(), 0u);

  ASSERT_EQ(run("/usr/bin/xdotool", {"keydown", "ctrl+c"}), 0);
  keys = input_->keymap();
  ASSERT_TRUE(keys);
  EXPECT_TRUE(keys->test(kC));
  EXPECT_TRUE(keys->test(kControlL));
  EXPECT_EQ(input_->modifiers(), kModifierControl);
  ASSERT_EQ(run("/usr/bin/xdotool", {"keyup", "ctrl+c"}), 0);
  EXPECT_FALSE(input_->keymap()->test(kC));

  struct Case {
    const char* key;
    uint64_t flag;
  };
  for (const Case& c : {Case{"shift", kModifierShift}, Case{"alt", kModifierOption},
                        Case{"super", kModifierCommand}, Case{"ctrl", kModifierControl}}) {
    ASSERT_EQ(run("/usr/bin/xdotool", {"keydown", c.key}), 0);
    EXPECT_EQ(input_->modifiers(), c.flag) << c.key;
    ASSERT_EQ(run("/usr/bin/xdotool", {"keyup", c.key}), 0);
  }
}

TEST_F(X11InputTest, LayoutCharactersFollowTheCurrentLayout) {
  struct Case {
    const char* layout;
    std::vector<std::pair<uint8_t, std::string>> characters;
  };
  const std::vector<Case> cases{
      {"us", {{kZ, "z"}, {kC, "c"}, {kMinus, "-"}, {kGrave, "`"}, {kSemicolon, ";"}}},
      // German: "y" where US has "z"; the grave key is a dead circumflex.
      {"de", {{kZ, "y"}, {kC, "c"}, {kMinus, "ß"}, {kGrave, "^"}, {kSemicolon, "ö"}}},
      {"fr", {{kZ, "w"}, {kMinus, ")"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.layout);
    ASSERT_EQ(run("/usr/bin/setxkbmap", {c.layout}), 0);
    auto layout = input_->currentLayout();
    ASSERT_TRUE(layout);
    for (const auto& [key, text] : c.characters) EXPECT_EQ(layout->characterOf(key), text) << +key;
    EXPECT_EQ(layout->characterOf(kControlL), "");  // a modifier types nothing
    EXPECT_EQ(layout->characterOf(255), "");        // no such key
  }
}

TEST_F(X11InputTest, CursorImageHasPixelsAndAHotSpotInside) {
  auto image = input_->cursorImage();
  ASSERT_TRUE(image);
  EXPECT_GT(image->width, 0);
  EXPECT_GT(image->height, 0);
  EXPECT_EQ(image->argb.size(), static_cast<size_t>(image->width) * image->height);
  EXPECT_GE(image->hotSpot.x, 0);
  EXPECT_LT(image->hotSpot.x, image->width);
  EXPECT_GE(image->hotSpot.y, 0);
  EXPECT_LT(image->hotSpot.y, image->height);
  // Unchanged cursor: the same bytes again.
  auto again = input_->cursorImage();
  ASSERT_TRUE(again);
  EXPECT_EQ(again->argb, image->argb);
}

TEST(X11InputOpen, NoDisplayIsAClearError) {
  try {
    X11Input::open(":9999");
    FAIL() << "opened a display that does not exist";
  } catch (const Error& e) {
    EXPECT_EQ(e.domain(), "X11");
    EXPECT_NE(e.localizedDescription().find(":9999"), std::string::npos);
  }
}

}  // namespace
}  // namespace tavolu
