// Discovery of cameras and microphones.
#pragma once

#include <string>
#include <vector>

namespace tavolu {

struct CaptureDevice {
  std::string uniqueId;
  std::string name;
};

enum class MediaType { video, audio };

class DeviceDiscovery {
 public:
  virtual ~DeviceDiscovery() = default;
  // Capture devices of one media type in the platform's discovery order.
  virtual std::vector<CaptureDevice> devices(MediaType type) = 0;
};

}  // namespace tavolu
