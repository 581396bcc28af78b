// The cameras of a Linux machine: V4L2 capture nodes, then the virtual camera when
// TAVOLU_VIRTUAL_CAMERA names one.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "platform/camera.h"

namespace tavolu {

class LinuxCameras : public Cameras {
 public:
  // `virtualCamera` is the value of TAVOLU_VIRTUAL_CAMERA (read from the environment by default).
  LinuxCameras();
  explicit LinuxCameras(std::optional<std::string> virtualCamera);

  // Linux has no camera permission of its own: access is granted here, and a device node this
  // user may not open is reported as denied when it is opened.
  CameraAuthorization authorizationStatus() override { return CameraAuthorization::authorized; }
  void requestAccess(std::function<void(bool)> done) override { done(true); }
  std::vector<CaptureDevice> devices() override;
  bool isInUseByAnotherApplication(const CaptureDevice& device) override;
  bool isSuspended(const CaptureDevice&) override { return false; }
  std::unique_ptr<CameraSession> open(const CaptureDevice& device,
                                      CameraDelegate delegate) override;

 private:
  std::optional<std::string> nodePath(const std::string& uniqueId);

  std::optional<std::string> virtualCamera_;
  std::mutex mutex_;
  std::map<std::string, int> openNodes_;  // this process's own sessions, by node path
};

}  // namespace tavolu
