#include "capture/preview/camera_preview_mode.h"

#include <unistd.h>

#include <asio/executor_work_guard.hpp>
#include <chrono>
#include <cstdio>
#include <thread>

#include "capture/preview/camera_commands.h"
#include "capture/preview/camera_preview.h"
#include "platform/linux/linux_cameras.h"

namespace tavolu {

void runCameraPreviewMode(asio::io_context& mainLoop) {
  // Both live until the process exits.
  static LinuxCameras cameras;
  static CameraPreview preview(cameras);

  std::thread reader([] {
    readCameraCommands(preview, stdin);
    auto endOfInput = std::chrono::steady_clock::now();
    // The host gets a short grace period after "off" before the process goes away.
    std::this_thread::sleep_until(endOfInput + std::chrono::milliseconds(200));
    // Events are written unbuffered; leaving without running destructors keeps the other threads
    // from seeing half-destroyed objects.
    std::fflush(nullptr);
    ::_exit(0);
  });
  reader.detach();

  auto work = asio::make_work_guard(mainLoop);
  for (;;) {
    mainLoop.run();
    mainLoop.restart();
  }
}

}  // namespace tavolu
