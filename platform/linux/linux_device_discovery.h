// Capture devices on Linux: V4L2 cameras (and the virtual camera), PulseAudio microphones.
#pragma once

#include "platform/camera.h"
#include "platform/capture_devices.h"

namespace tavolu {

class LinuxDeviceDiscovery : public DeviceDiscovery {
 public:
  explicit LinuxDeviceDiscovery(Cameras& cameras) : cameras_(cameras) {}
  std::vector<CaptureDevice> devices(MediaType type) override;

 private:
  Cameras& cameras_;
};

}  // namespace tavolu
