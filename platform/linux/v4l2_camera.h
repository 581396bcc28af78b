// V4L2 cameras: discovery of /dev/video* capture nodes and capture sessions on them.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/camera.h"

namespace tavolu {

struct V4l2Node {
  std::string path;      // /dev/videoN
  std::string uniqueId;  // the /dev/v4l/by-id name, else "v4l2:" + bus info
  std::string name;      // the card name
};

// The video capture nodes under `devDir`, in node-number order. A node this user may not open
// is still listed when sysfs shows it as the first node of its device, so that opening it
// reports access refused rather than the camera missing.
std::vector<V4l2Node> listV4l2Cameras(const std::string& devDir = "/dev",
                                      const std::string& byIdDir = "/dev/v4l/by-id",
                                      const std::string& sysfsDir = "/sys/class/video4linux");

// What sysfs tells of a node that cannot be opened: listed only when it is the device's first
// node (index 0); its name is the sysfs name, its id the by-id link, else "v4l2:" + the name of
// the device it belongs to.
std::optional<V4l2Node> v4l2NodeFromSysfs(const std::string& nodePath, const std::string& byIdDir,
                                          const std::string& sysfsDir);

// The unique id of `nodePath`: the name of the first link in `byIdDir` (in name order) that
// resolves to the node, else "v4l2:" + `busInfo`.
std::string v4l2UniqueId(const std::string& nodePath, const std::string& byIdDir,
                         const std::string& busInfo);

// Whether another open file of the node owns its buffers (a streaming application).
bool v4l2NodeBusy(const std::string& path);

// Opens the node for 1920x1080 (the nearest size it offers) MJPEG or YUYV frames, delivered as
// BGRA stamped on CLOCK_MONOTONIC. Throws camera errors: EACCES denied, EBUSY in use, ENODEV
// disconnected. `onClose` runs when the session is destroyed.
std::unique_ptr<CameraSession> openV4l2Camera(const V4l2Node& node, CameraDelegate delegate,
                                              std::function<void()> onClose = {});

}  // namespace tavolu
