#include "platform/linux/pulse_devices.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace tavolu {
namespace {

TEST(PulseDevices, ListsMicrophonesButNotMonitorsAndNothingWithoutAServer) {
  EXPECT_TRUE(listPulseMicrophones("unix:/nonexistent/pulse").empty());
  if (!std::getenv("PULSE_SERVER")) GTEST_SKIP() << "PULSE_SERVER is not set";
  auto mics = listPulseMicrophones();
  bool found = false;
  for (const CaptureDevice& d : mics) {
    EXPECT_EQ(d.uniqueId.find(".monitor"), std::string::npos) << d.uniqueId;
    EXPECT_FALSE(d.name.empty());
    found |= d.uniqueId == "tavolu_mic";  // the test run's null source
  }
  EXPECT_TRUE(found);
}

}  // namespace
}  // namespace tavolu
