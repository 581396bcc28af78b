// Displays and windows of an X server: RandR monitors, EWMH client windows in stacking order.
#pragma once

#include <memory>
#include <mutex>

#include "platform/linux/x11_connection.h"
#include "platform/window_system.h"

namespace tavolu {

class X11WindowSystem : public WindowSystem {
 public:
  bool screenCaptureAccess() override;
  bool inputMonitoringAccess(bool request) override;
  ShareableContent shareableContent() override;
  std::optional<std::vector<Window>> windowList() override;

 private:
  // The connection, reopened when the previous one broke; null without an X server.
  x11::Connection* connection();
  std::vector<Display> displays(x11::Connection& c);
  // Top-level windows front to back, with their properties read.
  std::vector<Window> windows(x11::Connection& c);
  std::optional<Window> describe(x11::Connection& c, xcb_window_t w);

  std::mutex mutex_;
  std::unique_ptr<x11::Connection> conn_;
};

}  // namespace tavolu
