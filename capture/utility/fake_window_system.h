// In-process window system for tests: the displays, windows and permissions a test sets.
#pragma once

#include "platform/error.h"
#include "platform/window_system.h"

namespace tavolu {

class FakeWindowSystem : public WindowSystem {
 public:
  bool screenAccess = true;
  bool inputAccess = true;
  std::optional<Error> contentError;
  ShareableContent content;
  std::optional<std::vector<Window>> list;

  bool screenCaptureAccess() override { return screenAccess; }
  bool inputMonitoringAccess(bool) override { return inputAccess; }
  ShareableContent shareableContent() override {
    if (contentError) throw *contentError;
    return content;
  }
  std::optional<std::vector<Window>> windowList() override { return list; }
};

}  // namespace tavolu
