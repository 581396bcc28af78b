#include "speech/recognition_timeout.h"

#include <gtest/gtest.h>

namespace tavolu::speech {
namespace {

using namespace std::chrono_literals;

TEST(RecognitionTimeout, OverrideOnlyWhenItIsAShorterNumberOfSeconds) {
  struct Case {
    const char* value;
    std::chrono::steady_clock::duration expected;
  } cases[] = {
      {nullptr, 120s}, {"", 120s},      {"0.5", 500ms}, {"0", 0s},     {"3", 3s},
      {"abc", 120s},   {"2x", 120s},    {"-1", 120s},   {"nan", 120s}, {"inf", 120s},
      {"121", 120s},   {"1e308", 120s}, {"120", 120s},
  };
  for (const Case& c : cases)
    EXPECT_EQ(recognitionTimeout(c.value), c.expected) << (c.value ? c.value : "(null)");
}

}  // namespace
}  // namespace tavolu::speech
