// In-process device discovery for tests.
#pragma once

#include "platform/capture_devices.h"

namespace tavolu {

class FakeDeviceDiscovery : public DeviceDiscovery {
 public:
  std::vector<CaptureDevice> cameras, microphones;
  std::vector<CaptureDevice> devices(MediaType type) override {
    return type == MediaType::video ? cameras : microphones;
  }
};

}  // namespace tavolu
