// Displays, windows and permissions of the window server.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/geometry.h"

namespace tavolu {

struct Application {
  std::string name;      // e.g. the WM_CLASS class
  std::string bundleId;  // application id; the host application is "com.orvenda.studio"
  int32_t pid = 0;
};

struct Display {
  uint32_t id = 0;  // stable per monitor
  int width = 0;    // points
  int height = 0;
  Rect frame;  // global display coordinates
  float pointPixelScale = 1;
};

struct Window {
  uint32_t id = 0;
  Rect frame;
  std::optional<int64_t> layer;  // 0 for ordinary windows; absent when unknown
  std::optional<std::string> title;
  std::optional<Application> app;  // absent when no owning application is known
  std::optional<int32_t> ownerPid;
  std::optional<double> alpha;  // absent means opaque
  bool onScreen = true;
};

// What can be recorded now.
struct ShareableContent {
  std::vector<Display> displays;
  std::vector<Window> windows;  // on-screen windows, desktop windows excluded
  std::vector<Application> applications;
};

class WindowSystem {
 public:
  virtual ~WindowSystem() = default;
  // Whether screen pixels may be read (never asks the user).
  virtual bool screenCaptureAccess() = 0;
  // Whether input events may be observed; `request` may ask the user where that exists.
  virtual bool inputMonitoringAccess(bool request) = 0;
  // The current displays and on-screen windows; throws Error when the query fails.
  virtual ShareableContent shareableContent() = 0;
  // On-screen windows front to back, desktop elements excluded; nothing when unavailable.
  virtual std::optional<std::vector<Window>> windowList() = 0;
};

}  // namespace tavolu
