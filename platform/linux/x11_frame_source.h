// Reads the frames of one display or one window from the X server, on a connection of its
// own: pixels through MIT-SHM, what changed through XDamage, windows through XComposite (so a
// covered window is read whole), and the pointer from the XFixes cursor image.
#pragma once

#include <chrono>
#include <memory>

#include "platform/media_time.h"
#include "platform/screen_stream.h"

namespace tavolu {

class X11FrameSource {
 public:
  struct Frame {
    FrameStatus status = FrameStatus::idle;
    PixelBufferRef pixels;  // the new picture; the previous one when idle; none when blank
    Rect screenRect;        // where the captured area is on screen, global coordinates
    MediaTime pts;          // host clock, when the picture was read
  };

  // Connects to the X display and prepares reading the filter's display or window; throws
  // Error when the display cannot be opened, an extension is missing or the source is gone.
  X11FrameSource(const ContentFilter& filter, const StreamConfiguration& config);
  ~X11FrameSource();
  X11FrameSource(const X11FrameSource&) = delete;
  X11FrameSource& operator=(const X11FrameSource&) = delete;

  // The next frame: complete (with a new picture) when something visible changed since the
  // previous one, else idle. Throws Error when the window is gone or the connection broke.
  Frame next();
  // The frame last returned by next() was not delivered.
  void dropped(const Frame& frame);
  // Total time next() spent reading and composing pictures (for measurements).
  std::chrono::nanoseconds pictureTime() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tavolu
