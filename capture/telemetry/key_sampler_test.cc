#include "capture/telemetry/key_sampler.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "capture/telemetry/key_labels.h"
#include "capture/telemetry/key_tables.h"

namespace tavolu {
namespace {

using Keys = std::optional<std::vector<std::string>>;

Keymap down(std::initializer_list<uint16_t> virtualCodes) {
  Keymap map;
  for (uint16_t code : virtualCodes) {
    if (auto windowCode = KeyTables::windowKeyCode(code)) map.set(*windowCode);
  }
  return map;
}

constexpr uint64_t kCmd = kModifierCommand, kCtrl = kModifierControl, kOpt = kModifierOption,
                   kShift = kModifierShift;

TEST(KeyTables, NameSeventyFourDistinctKeys) {
  EXPECT_EQ(KeyTables::keyUS().size(), 47u);
  EXPECT_EQ(KeyTables::keySpecial().size(), 27u);
  std::set<uint16_t> codes;
  std::set<uint8_t> windowCodes;
  for (const auto* table : {&KeyTables::keyUS(), &KeyTables::keySpecial()}) {
    for (const auto& [code, label] : *table) {
      codes.insert(code);
      auto windowCode = KeyTables::windowKeyCode(code);
      ASSERT_TRUE(windowCode) << code;
      windowCodes.insert(*windowCode);
    }
  }
  EXPECT_EQ(codes.size(), 74u);        // the tables share no code
  EXPECT_EQ(windowCodes.size(), 74u);  // and no two codes sit on one key
  for (uint16_t unpolled : {10, 52, 55, 56, 57, 58, 59, 63, 65, 82, 127, 200}) {
    EXPECT_FALSE(codes.count(unpolled));
    EXPECT_FALSE(KeyTables::windowKeyCode(unpolled)) << unpolled;
  }
}

TEST(KeyTables, VirtualCodesSitOnTheirEvdevKeys) {
  // X key code = evdev code + 8.
  const std::vector<std::pair<uint16_t, int>> cases{
      {0, 30 + 8},     // A
      {6, 44 + 8},     // Z (types "y" on a German layout)
      {8, 46 + 8},     // C
      {16, 21 + 8},    // Y
      {36, 28 + 8},    // return
      {49, 57 + 8},    // space
      {50, 41 + 8},    // grave
      {51, 14 + 8},    // backspace
      {53, 1 + 8},     // escape
      {76, 96 + 8},    // keypad enter
      {117, 111 + 8},  // forward delete
      {122, 59 + 8},   // F1
      {111, 88 + 8},   // F12
      {126, 103 + 8},  // up
  };
  for (auto [code, expected] : cases) {
    auto windowCode = KeyTables::windowKeyCode(code);
    ASSERT_TRUE(windowCode) << code;
    EXPECT_EQ(*windowCode, expected) << code;
  }
}

struct Poll {
  Keymap now;
  uint64_t modifiers;
  std::vector<Keys> expected;  // one entry per event, in order
};

struct KeyCase {
  const char* name;
  Keymap atStart;
  std::vector<Poll> polls;
};

TEST(KeySampler, ReportsEachNewPressOnceAndSpellsOutOnlyShortcuts) {
  using V = std::vector<std::string>;
  const std::vector<KeyCase> cases{
      {"Command+C", {}, {{down({}), 0, {}}, {down({8}), kCmd, {V{"⌘", "C"}}}}},
      {"Command+Shift+Z", {}, {{down({6}), kCmd | kShift, {V{"⇧", "⌘", "Z"}}}}},
      {"Control+Option+Delete", {}, {{down({51}), kCtrl | kOpt, {V{"⌃", "⌥", "⌫"}}}}},
      {"all four modifiers in order",
       {},
       {{down({1}), kCmd | kShift | kOpt | kCtrl, {V{"⌃", "⌥", "⇧", "⌘", "S"}}}}},
      {"typing a word: bare events only",
       {},
       {{down({4}), 0, {std::nullopt}},
        {down({}), 0, {}},
        {down({14}), 0, {std::nullopt}},
        {down({37}), 0, {std::nullopt}},
        {down({}), 0, {}},
        {down({37}), 0, {std::nullopt}},
        {down({31}), 0, {std::nullopt}}}},
      {"Shift and Option are not shortcut modifiers",
       {},
       {{down({0}), kShift, {std::nullopt}},
        {down({}), 0, {}},
        {down({0}), kOpt | kShift, {std::nullopt}}}},
      {"two keys in one poll: ascending code, same modifiers",
       {},
       {{down({9, 8}), kCmd, {V{"⌘", "C"}, V{"⌘", "V"}}}}},
      {"held key once, again after release",
       {},
       {{down({8}), kCtrl, {V{"⌃", "C"}}},
        {down({8}), kCtrl, {}},
        {down({}), kCtrl, {}},
        {down({8}), kCtrl, {V{"⌃", "C"}}}}},
      {"held at start: only once pressed again",
       down({8}),
       {{down({8}), kCmd, {}}, {down({}), kCmd, {}}, {down({8}), kCmd, {V{"⌘", "C"}}}}},
      {"special keys keep their labels",
       {},
       {{down({36, 49, 53, 122, 126}),
         kCmd,
         {V{"⌘", "↩"}, V{"⌘", "Space"}, V{"⌘", "esc"}, V{"⌘", "F1"}, V{"⌘", "↑"}}}}},
  };
  const auto labels = keyLabelsFor(nullptr);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    KeySampler sampler;
    sampler.start(labels, c.atStart);
    for (size_t i = 0; i < c.polls.size(); ++i) {
      SCOPED_TRACE("poll " + std::to_string(i));
      const Poll& poll = c.polls[i];
      std::vector<Keys> events;
      for (uint16_t code : sampler.poll(poll.now))
        events.push_back(sampler.keysFor(code, poll.modifiers));
      EXPECT_EQ(events, poll.expected);
    }
  }
}

TEST(KeySampler, UnpolledKeysAndUnlabelledCodes) {
  KeySampler sampler;
  // Only the keys of the label map are polled: here C alone.
  sampler.start({{8, "C"}}, std::nullopt);
  Keymap modifiersOnly;
  modifiersOnly.set(29 + 8);   // left Control
  modifiersOnly.set(125 + 8);  // left Super
  EXPECT_TRUE(sampler.poll(modifiersOnly).empty());
  EXPECT_TRUE(sampler.poll(down({9})).empty());  // V is not in this map
  EXPECT_EQ(sampler.poll(down({8})), std::vector<uint16_t>{8});
  EXPECT_EQ(sampler.keysFor(99, kCmd), (Keys{{"⌘", "?"}}));

  sampler.reset();
  EXPECT_TRUE(sampler.poll(down({8, 9})).empty());
}

}  // namespace
}  // namespace tavolu
