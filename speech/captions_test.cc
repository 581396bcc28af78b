#include "speech/captions.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace tavolu::speech {
namespace {

TEST(CaptionJson, EndIsStartPlusDurationButAtLeastFiftyMilliseconds) {
  struct Case {
    double timestamp, duration, end;
  } cases[] = {
      {1.5, 0.0, 1.55},   // zero duration gets the minimum
      {1.5, 0.4, 1.9},    // a real duration is kept
      {0.0, 0.05, 0.05},  // exactly the minimum
      {2.0, -1.0, 2.05},  // a negative duration is never used
  };
  for (const Case& c : cases) {
    auto json = nlohmann::json::parse(captionJson({{"word", c.timestamp, c.duration}}));
    ASSERT_EQ(json.size(), 1u);
    EXPECT_DOUBLE_EQ(json[0]["start"].get<double>(), c.timestamp);
    EXPECT_DOUBLE_EQ(json[0]["end"].get<double>(), c.timestamp + std::max(c.duration, 0.05));
    EXPECT_NEAR(json[0]["end"].get<double>(), c.end, 1e-12);
    EXPECT_EQ(json[0]["text"], "word");
  }
}

TEST(CaptionJson, KeepsOrderAndHasNoWhitespaceOrNewline) {
  std::string out = captionJson({{"go", 0.5, 0.2}, {"forward", 0.7, 0.4}});
  auto json = nlohmann::json::parse(out);
  ASSERT_EQ(json.size(), 2u);
  EXPECT_EQ(json[0]["text"], "go");
  EXPECT_EQ(json[1]["text"], "forward");
  EXPECT_EQ(out.find('\n'), std::string::npos);
  EXPECT_EQ(out.find(' '), std::string::npos);
}

TEST(CaptionJson, NoSegmentsIsAnEmptyArray) { EXPECT_EQ(captionJson({}), "[]"); }

TEST(CaptionJson, InvalidUtf8IsReplacedNotThrown) {
  auto json = nlohmann::json::parse(captionJson({{"caf\xe9", 0, 0}}));
  EXPECT_EQ(json[0]["text"], "caf\xef\xbf\xbd");
}

}  // namespace
}  // namespace tavolu::speech
