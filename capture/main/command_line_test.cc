#include "capture/main/command_line.h"

#include <gtest/gtest.h>

namespace tavolu {
namespace {

using Mode = CommandLine::Mode;

TEST(CommandLine, ModeFlagsAreTestedInTheirFixedOrder) {
  struct Case {
    std::vector<std::string> args;
    Mode mode;
  };
  const Case cases[] = {
      {{"tavolu-capture"}, Mode::record},
      {{"tavolu-capture", "--list"}, Mode::list},
      {{"tavolu-capture", "--list", "--input-monitoring"}, Mode::inputMonitoring},
      {{"tavolu-capture", "--watch-windows", "--camera-preview"}, Mode::cameraPreview},
      {{"tavolu-capture", "--copy-file"}, Mode::record},  // flag without its path is ignored
      {{"tavolu-capture", "--copy-file", "--list"}, Mode::copyFile},
      {{"tavolu-capture", "--list", "--copy-file"}, Mode::list},
      {{"tavolu-capture", "--LIST", "-list", "list"}, Mode::record},
      {{"--list"}, Mode::list},  // the program path position is searched too
  };
  for (const auto& c : cases) {
    std::string joined;
    for (auto& a : c.args) joined += a + " ";
    EXPECT_EQ(parseCommandLine(c.args).mode, c.mode) << joined;
  }
}

TEST(CommandLine, ValuesFollowTheirFlag) {
  EXPECT_EQ(parseCommandLine({"x", "--copy-file", "a b.txt"}).copyPath, "a b.txt");
  EXPECT_TRUE(parseCommandLine({"x", "--input-monitoring", "request"}).requestAccess);
  EXPECT_FALSE(parseCommandLine({"x", "--input-monitoring", "REQUEST"}).requestAccess);
  EXPECT_FALSE(parseCommandLine({"x", "request", "--input-monitoring"}).requestAccess);

  struct Case {
    std::vector<std::string> args;
    int32_t pid;
  };
  const Case cases[] = {
      {{"x", "--watch-windows"}, -1},
      {{"x", "--watch-windows", "abc"}, -1},
      {{"x", "--watch-windows", ""}, -1},
      {{"x", "--watch-windows", "99999999999"}, -1},
      {{"x", "--watch-windows", "2147483648"}, -1},
      {{"x", "--watch-windows", "-2147483648"}, INT32_MIN},
      {{"x", "--watch-windows", "+42"}, 42},
      {{"x", "--watch-windows", "-7"}, -7},
      {{"x", "--watch-windows", "+"}, -1},
      {{"x", "--watch-windows", "4 2"}, -1},
      {{"x", "--watch-windows", "0x10"}, -1},
  };
  for (const auto& c : cases)
    EXPECT_EQ(parseCommandLine(c.args).excludedPid, c.pid) << c.args.back();
}

}  // namespace
}  // namespace tavolu
