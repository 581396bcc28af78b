#include "platform/linux/v4l2_camera.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace tavolu {
namespace {

class TempTree : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/tavolu-v4l2-test.XXXXXX";
    ASSERT_TRUE(mkdtemp(tmpl));
    root_ = tmpl;
    fs::create_directories(root_ / "by-id");
  }
  void TearDown() override { fs::remove_all(root_); }
  fs::path root_;
};

TEST_F(TempTree, UniqueIdIsTheByIdLinkOfTheNodeElseTheBusInfo) {
  std::ofstream(root_ / "video0").put('x');
  std::ofstream(root_ / "video1").put('x');
  fs::create_symlink(root_ / "video1", root_ / "by-id" / "usb-Acme_Cam-video-index1");
  fs::create_symlink(root_ / "video0", root_ / "by-id" / "usb-Acme_Cam-video-index0");
  fs::create_symlink("../video0", root_ / "by-id" / "z-other-name-for-video0");
  EXPECT_EQ(v4l2UniqueId((root_ / "video0").string(), (root_ / "by-id").string(), "usb-1"),
            "usb-Acme_Cam-video-index0");
  EXPECT_EQ(v4l2UniqueId((root_ / "video1").string(), (root_ / "by-id").string(), "usb-1"),
            "usb-Acme_Cam-video-index1");
  std::ofstream(root_ / "video2").put('x');
  EXPECT_EQ(
      v4l2UniqueId((root_ / "video2").string(), (root_ / "by-id").string(), "platform:vivid-000"),
      "v4l2:platform:vivid-000");
  EXPECT_EQ(v4l2UniqueId((root_ / "video2").string(), (root_ / "nowhere").string(), "pci:1"),
            "v4l2:pci:1");
}

TEST_F(TempTree, NodesThatAreNotCaptureDevicesAreNotListed) {
  std::ofstream(root_ / "video0").put('x');  // a plain file: VIDIOC_QUERYCAP fails
  std::ofstream(root_ / "videox").put('x');
  std::ofstream(root_ / "null").put('x');
  EXPECT_TRUE(listV4l2Cameras(root_.string(), (root_ / "by-id").string()).empty());
}

TEST_F(TempTree, NodesThatCannotBeOpenedAreDescribedFromSysfs) {
  fs::path sys = root_ / "sys";
  fs::create_directories(root_ / "devices" / "1-2:1.0");
  auto node = [&](const std::string& n, const std::string& index, const std::string& name) {
    fs::create_directories(sys / n);
    std::ofstream(sys / n / "index") << index << "\n";
    std::ofstream(sys / n / "name") << name << "\n";
    fs::create_directory_symlink(root_ / "devices" / "1-2:1.0", sys / n / "device");
  };
  node("video0", "0", "Acme Cam");
  node("video1", "1", "Acme Cam");
  fs::create_symlink(root_ / "video0", root_ / "by-id" / "usb-Acme_Cam-video-index0");
  std::ofstream(root_ / "video0").put('x');
  std::ofstream(root_ / "video1").put('x');
  std::string byId = (root_ / "by-id").string();

  auto first = v4l2NodeFromSysfs((root_ / "video0").string(), byId, sys.string());
  ASSERT_TRUE(first);
  EXPECT_EQ(first->uniqueId, "usb-Acme_Cam-video-index0");
  EXPECT_EQ(first->name, "Acme Cam");
  EXPECT_FALSE(v4l2NodeFromSysfs((root_ / "video1").string(), byId, sys.string()));
  fs::remove(root_ / "by-id" / "usb-Acme_Cam-video-index0");
  EXPECT_EQ(v4l2NodeFromSysfs((root_ / "video0").string(), byId, sys.string())->uniqueId,
            "v4l2:1-2:1.0");
  EXPECT_FALSE(v4l2NodeFromSysfs((root_ / "video7").string(), byId, sys.string()));
}

TEST(V4l2Camera, OpenErrorsAreCameraErrorsTheCallerCanTellApart) {
  CameraDelegate delegate;
  delegate.post = [](std::function<void()> fn) { fn(); };
  struct Case {
    std::string path;
    CameraErrorCode code;
  } cases[] = {
      {"/dev/video-that-does-not-exist", CameraErrorCode::disconnected},
      {"/dev/null", CameraErrorCode::failed},  // opens, but is no V4L2 device
  };
  for (const auto& c : cases) {
    try {
      openV4l2Camera({c.path, "v4l2:test", "Test"}, delegate);
      ADD_FAILURE() << c.path << " opened";
    } catch (const Error& error) {
      EXPECT_EQ(cameraErrorCode(error), c.code) << c.path << ": " << error.description();
      EXPECT_FALSE(error.localizedDescription().empty());
    }
  }
}

TEST(V4l2Camera, ABusyProbeOfAMissingNodeSaysNotBusy) {
  EXPECT_FALSE(v4l2NodeBusy("/dev/video-that-does-not-exist"));
}

}  // namespace
}  // namespace tavolu
