#include "platform/linux/linux_cameras.h"

#include <cstdlib>

#include "platform/linux/v4l2_camera.h"
#include "platform/linux/virtual_camera.h"

namespace tavolu {
namespace {
std::optional<std::string> environmentCamera() {
  const char* value = std::getenv("TAVOLU_VIRTUAL_CAMERA");
  if (!value || !*value) return std::nullopt;
  return std::string(value);
}
}  // namespace

LinuxCameras::LinuxCameras() : LinuxCameras(environmentCamera()) {}

LinuxCameras::LinuxCameras(std::optional<std::string> virtualCamera)
    : virtualCamera_(std::move(virtualCamera)) {}

std::vector<CaptureDevice> LinuxCameras::devices() {
  std::vector<CaptureDevice> list;
  for (auto& node : listV4l2Cameras()) list.push_back({node.uniqueId, node.name});
  if (virtualCamera_)
    if (auto device = virtualCameraDevice(virtualCamera_->c_str())) list.push_back(*device);
  return list;
}

std::optional<std::string> LinuxCameras::nodePath(const std::string& uniqueId) {
  for (auto& node : listV4l2Cameras())
    if (node.uniqueId == uniqueId) return node.path;
  return std::nullopt;
}

bool LinuxCameras::isInUseByAnotherApplication(const CaptureDevice& device) {
  auto path = nodePath(device.uniqueId);
  if (!path) return false;  // the virtual camera, or a device that is gone
  {
    std::lock_guard lock(mutex_);
    // While this process holds the node, nobody else can stream from it.
    if (openNodes_[*path] > 0) return false;
  }
  return v4l2NodeBusy(*path);
}

std::unique_ptr<CameraSession> LinuxCameras::open(const CaptureDevice& device,
                                                  CameraDelegate delegate) {
  if (virtualCamera_) {
    auto virtualDevice = virtualCameraDevice(virtualCamera_->c_str());
    if (virtualDevice && virtualDevice->uniqueId == device.uniqueId)
      return openVirtualCamera(*virtualCamera_, std::move(delegate));
  }
  for (auto& node : listV4l2Cameras()) {
    if (node.uniqueId != device.uniqueId) continue;
    {
      std::lock_guard lock(mutex_);
      ++openNodes_[node.path];
    }
    return openV4l2Camera(node, std::move(delegate), [this, path = node.path] {
      std::lock_guard lock(mutex_);
      --openNodes_[path];
    });
  }
  throw cameraError(CameraErrorCode::disconnected, "The selected camera is disconnected.");
}

}  // namespace tavolu
