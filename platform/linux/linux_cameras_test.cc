#include "platform/linux/linux_cameras.h"

#include <gtest/gtest.h>

namespace tavolu {
namespace {

TEST(LinuxCameras, TheVirtualCameraComesAfterTheDevicesAndOpensLikeOne) {
  LinuxCameras cameras(std::string("virtual:pattern"));
  auto devices = cameras.devices();
  ASSERT_FALSE(devices.empty());
  EXPECT_EQ(devices.back().uniqueId, "virtual:pattern");
  EXPECT_FALSE(cameras.isInUseByAnotherApplication(devices.back()));
  EXPECT_EQ(cameras.authorizationStatus(), CameraAuthorization::authorized);
  EXPECT_TRUE(waitForCameraAccess(cameras));

  CameraDelegate delegate;
  delegate.post = [](std::function<void()> fn) { fn(); };
  auto session = cameras.open(devices.back(), delegate);
  ASSERT_TRUE(session);
}

TEST(LinuxCameras, WithoutTheVariableThereIsNoVirtualCamera) {
  LinuxCameras cameras(std::nullopt);
  for (auto& device : cameras.devices()) EXPECT_NE(device.uniqueId.rfind("virtual:", 0), 0u);
}

TEST(LinuxCameras, AnUnknownIdIsDisconnected) {
  LinuxCameras cameras(std::string("virtual:pattern"));
  try {
    cameras.open({"usb-Nobody-video-index0", "Nobody"}, CameraDelegate{});
    FAIL();
  } catch (const Error& error) {
    EXPECT_EQ(cameraErrorCode(error), CameraErrorCode::disconnected);
    EXPECT_EQ(error.localizedDescription(), "The selected camera is disconnected.");
  }
}

}  // namespace
}  // namespace tavolu
