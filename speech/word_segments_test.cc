#include "speech/word_segments.h"

#include <gtest/gtest.h>

namespace tavolu::speech {
namespace {

TEST(SpokenWord, KeepsWordsAndDropsMarkersAndFillers) {
  struct Case {
    const char* entry;
    const char* word;
  } cases[] = {
      {"forward", "forward"},
      {"read(2)", "read"},
      {"the(12)", "the"},
      {"<s>", ""},
      {"</s>", ""},
      {"<sil>", ""},
      {"[NOISE]", ""},
      {"++UM++", ""},
      {"", ""},
      {"(2)", "(2)"},
      {"mr.(x)", "mr.(x)"},
      {"o'clock", "o'clock"},
      {"word()", "word()"},
  };
  for (const Case& c : cases) EXPECT_EQ(spokenWord(c.entry), c.word) << c.entry;
}

TEST(WordSegment, FramesBecomeSecondsFromTheStartOfTheAudio) {
  auto s = wordSegment("go(2)", 50, 79, 2.0, 100);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->text, "go");
  EXPECT_DOUBLE_EQ(s->timestamp, 2.5);
  EXPECT_DOUBLE_EQ(s->duration, 0.3);
  EXPECT_FALSE(wordSegment("<sil>", 0, 10, 0, 100));
  EXPECT_DOUBLE_EQ(wordSegment("a", 10, 5, 0, 100)->duration, 0);  // never negative
}

}  // namespace
}  // namespace tavolu::speech
