#include "platform/linux/linux_device_discovery.h"

#include "platform/linux/pulse_devices.h"

namespace tavolu {

std::vector<CaptureDevice> LinuxDeviceDiscovery::devices(MediaType type) {
  return type == MediaType::video ? cameras_.devices() : listPulseMicrophones();
}

}  // namespace tavolu
