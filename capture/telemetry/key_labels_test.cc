#include "capture/telemetry/key_labels.h"

#include <gtest/gtest.h>

#include "capture/telemetry/key_tables.h"
#include "platform/fake_input.h"

namespace tavolu {
namespace {

uint8_t keyAt(uint16_t virtualCode) { return *KeyTables::windowKeyCode(virtualCode); }

TEST(KeyLabels, WithoutLayoutEveryKeyHasItsFixedLabel) {
  auto labels = keyLabelsFor(nullptr);
  ASSERT_EQ(labels.size(), 74u);
  EXPECT_EQ(labels[6], "Z");
  EXPECT_EQ(labels[42], "\\");
  EXPECT_EQ(labels[50], "`");
  EXPECT_EQ(labels[49], "Space");
  EXPECT_EQ(labels[117], "⌦");
}

TEST(KeyLabels, TranslatesCharacterKeysThroughTheLayout) {
  struct Case {
    const char* name;
    uint16_t code;
    std::string typed;  // what the layout gives for the key
    std::string label;
  };
  const std::vector<Case> cases{
      {"German: the key at code 6 types y", 6, "y", "Y"},
      {"French: code 12 types a", 12, "a", "A"},
      {"diaeresis upper-cased", 41, "ö", "Ö"},
      {"acute accent upper-cased", 19, "é", "É"},
      {"full upper-casing", 27, "ß", "SS"},
      {"digits stay", 18, "1", "1"},
      {"German: the key at code 33 types ü", 33, "ü", "Ü"},
      {"surrounding white space trimmed", 7, " x\n", "X"},
      {"only white space: US label", 8, " \t", "C"},
      {"no-break space only: US label", 9, "\u00a0", "V"},
      {"types nothing: US label", 11, "", "B"},
      {"not UTF-8: US label", 13, "\xff\xfe", "W"},
      {"special keys are never translated", 49, "x", "Space"},
      {"return is never translated", 36, "q", "↩"},
  };
  std::map<uint8_t, std::string> layout;
  for (const auto& c : cases) layout[keyAt(c.code)] = c.typed;
  FakeInput input;
  input.setLayout(layout);
  auto labels = keyLabelsFor(input.currentLayout().get());
  ASSERT_EQ(labels.size(), 74u);
  for (const auto& c : cases) EXPECT_EQ(labels[c.code], c.label) << c.name;
  EXPECT_EQ(labels[0], "A");  // a key the layout says nothing about keeps its US label
}

}  // namespace
}  // namespace tavolu
