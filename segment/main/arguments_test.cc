#include "segment/main/arguments.h"

#include <gtest/gtest.h>

namespace tavolu::segment {
namespace {

TEST(Arguments, TakesExactlyTwoPaths) {
  const char* two[] = {"tavolu-segment", "in.mov", "out.mp4"};
  auto args = parseArguments(3, two);
  ASSERT_TRUE(args);
  EXPECT_EQ(args->input, "in.mov");
  EXPECT_EQ(args->output, "out.mp4");

  const char* three[] = {"tavolu-segment", "a", "b", "c"};
  EXPECT_FALSE(parseArguments(1, two));
  EXPECT_FALSE(parseArguments(2, two));
  EXPECT_FALSE(parseArguments(4, three));
  EXPECT_FALSE(parseArguments(0, nullptr));
}

}  // namespace
}  // namespace tavolu::segment
