// Decides the status of each screen frame: complete when something visible changed since the
// previous delivered frame, idle otherwise.
#pragma once

#include "platform/screen_stream.h"

namespace tavolu {

class FrameStatusTracker {
 public:
  // What changed since the previous frame was taken.
  struct Changes {
    bool damaged = false;          // the server reported drawing in the captured drawable
    bool cursorChanged = false;    // the drawn pointer moved or changed shape
    bool geometryChanged = false;  // the captured window moved or was resized
  };

  // The status of the next frame. The first frame is always complete.
  FrameStatus next(const Changes& changes);
  // The frame last returned by next() could not be delivered. A complete frame that is lost
  // keeps the next one complete, so a change is never left out of the recording.
  void dropped(FrameStatus status);

 private:
  bool first_ = true;
  bool pending_ = false;
};

}  // namespace tavolu
