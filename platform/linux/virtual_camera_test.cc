#include "platform/linux/virtual_camera.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>

namespace tavolu {
namespace {

// Collects delivered frames; the callbacks run on the producer's thread (post runs at once).
struct Collector {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::pair<PixelBufferRef, MediaTime>> frames;
  std::vector<std::string> errors;

  CameraDelegate delegate() {
    CameraDelegate d;
    d.post = [](std::function<void()> fn) { fn(); };
    d.onFrame = [this](PixelBufferRef f, MediaTime t) {
      std::lock_guard lock(mutex);
      frames.emplace_back(std::move(f), t);
      changed.notify_all();
    };
    d.onRuntimeError = [this](const Error& e) {
      std::lock_guard lock(mutex);
      errors.push_back(e.description());
      changed.notify_all();
    };
    return d;
  }
  bool waitForFrames(size_t n) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(20), [&] {
      return frames.size() >= n || !errors.empty();
    }) && frames.size() >= n;
  }
};

TEST(VirtualCamera, DeviceFromTheVariable) {
  EXPECT_FALSE(virtualCameraDevice(nullptr));
  EXPECT_FALSE(virtualCameraDevice(""));
  auto pattern = virtualCameraDevice("virtual:pattern");
  ASSERT_TRUE(pattern);
  EXPECT_EQ(pattern->uniqueId, "virtual:pattern");
  EXPECT_EQ(pattern->name, "Tavolu Virtual Camera");
  auto file = virtualCameraDevice("/videos/clip.mp4");
  ASSERT_TRUE(file);
  EXPECT_EQ(file->uniqueId, "virtual:file");
  EXPECT_EQ(file->name, "Tavolu Virtual Camera (clip.mp4)");
}

TEST(VirtualCamera, PatternDeliversMovingFullHdFramesOnTheHostClock) {
  Collector collector;
  MediaTime before = hostTimeNow();
  auto session = openVirtualCamera("virtual:pattern", collector.delegate());
  EXPECT_FALSE(session->isRunning());
  session->startRunning();
  EXPECT_TRUE(session->isRunning());
  ASSERT_TRUE(collector.waitForFrames(3));
  session->stopRunning();
  EXPECT_FALSE(session->isRunning());
  MediaTime after = hostTimeNow();

  std::lock_guard lock(collector.mutex);
  size_t delivered = collector.frames.size();
  auto& [first, t0] = collector.frames[0];
  auto& [second, t1] = collector.frames[1];
  EXPECT_EQ(first->width, 1920);
  EXPECT_EQ(first->height, 1080);
  EXPECT_TRUE(before <= t0 && t0 < t1 && t1 <= after);
  EXPECT_NE(first->bytes, second->bytes);         // the picture moves
  EXPECT_EQ(collector.frames.size(), delivered);  // nothing after stopRunning
}

TEST(VirtualCamera, PatternFramesDiffer) {
  auto a = PixelBuffer::make(320, 180), b = PixelBuffer::make(320, 180);
  drawTestPattern(*a, 0);
  drawTestPattern(*b, 5);
  EXPECT_NE(a->bytes, b->bytes);
  EXPECT_EQ(a->row(0)[3], 255);
}

class VirtualFile : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new std::string(std::filesystem::temp_directory_path() /
                           ("tavolu-virtual-" + std::to_string(getpid())));
    std::filesystem::create_directories(*dir_);
    // A third of a second at 30 fps, 160x120.
    std::string command =
        "ffmpeg -v error -y -f lavfi -i testsrc=size=160x120:rate=30 -t 0.334 "
        "-pix_fmt yuv420p " +
        *dir_ + "/clip.mp4";
    ready_ = std::system(command.c_str()) == 0;
  }
  static void TearDownTestSuite() {
    std::filesystem::remove_all(*dir_);
    delete dir_;
  }
  static std::string* dir_;
  static bool ready_;
};
std::string* VirtualFile::dir_ = nullptr;
bool VirtualFile::ready_ = false;

TEST_F(VirtualFile, PlaysInRealTimeAndLoops) {
  ASSERT_TRUE(ready_) << "ffmpeg could not make the test clip";
  Collector collector;
  auto session = openVirtualCamera(*dir_ + "/clip.mp4", collector.delegate());
  session->startRunning();
  // 10 frames per pass: 25 frames means the clip looped at least twice.
  ASSERT_TRUE(collector.waitForFrames(25));
  session->stopRunning();
  std::lock_guard lock(collector.mutex);
  EXPECT_TRUE(collector.errors.empty());
  EXPECT_EQ(collector.frames[0].first->width, 160);
  EXPECT_EQ(collector.frames[0].first->height, 120);
  double span = (collector.frames[24].second - collector.frames[0].second).seconds();
  EXPECT_GT(span, 0.7);  // played at its own pace, not as fast as it decodes
  for (size_t i = 1; i < collector.frames.size(); ++i)
    EXPECT_LT(collector.frames[i - 1].second, collector.frames[i].second);
}

TEST_F(VirtualFile, UnplayableFilesAreCameraErrorsWithTheReason) {
  std::string notVideo = *dir_ + "/notes.txt";
  FILE* f = std::fopen(notVideo.c_str(), "w");
  std::fputs("not a video", f);
  std::fclose(f);
  for (const std::string& path : {*dir_ + "/missing.mp4", notVideo}) {
    try {
      openVirtualCamera(path, CameraDelegate{});
      ADD_FAILURE() << path;
    } catch (const Error& error) {
      EXPECT_EQ(cameraErrorCode(error), CameraErrorCode::failed);
      EXPECT_NE(error.localizedDescription().find(path), std::string::npos)
          << error.localizedDescription();
    }
  }
}

}  // namespace
}  // namespace tavolu
