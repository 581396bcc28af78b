// Screen capture on X11: filters over the window system's displays and windows, streams that
// read them (X11ScreenStream), and an interactive picker that lets the user click a window or
// the desktop.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/screen_stream.h"
#include "platform/window_system.h"

namespace tavolu {

class X11ScreenCapture : public ScreenCapture {
 public:
  struct Options {
    // Called once the picker holds the pointer and keyboard and waits for the user.
    std::function<void()> pickerShown;
    // The sound server for audio outputs; none means $PULSE_SERVER or the default.
    std::optional<std::string> pulseServer;
  };

  explicit X11ScreenCapture(std::shared_ptr<WindowSystem> windows, Options options = {});

  ShareableContent shareableContent() override;
  ContentFilter displayFilter(const Display& display, const std::vector<Application>& excluded,
                              const std::vector<Window>& excepting) override;
  ContentFilter windowFilter(const Window& window) override;
  // Shows a crosshair pointer until the user clicks a window (that window), the desktop (the
  // display under the pointer) or presses Escape (Error "Capture" 9). Windows of the
  // application `excludedBundleId` cannot be chosen and are left out of a chosen display.
  ContentFilter pick(const std::string& excludedBundleId) override;
  std::unique_ptr<ScreenStream> createStream(const ContentFilter& filter,
                                             const StreamConfiguration& config,
                                             StreamDelegate& delegate, QueuePost post) override;

  // The filter for a click at `point` (global coordinates) in `content`; exposed for tests.
  ContentFilter filterAt(const ShareableContent& content, Point point,
                         const std::string& excludedBundleId);

 private:
  std::shared_ptr<WindowSystem> windows_;
  Options options_;
};

}  // namespace tavolu
