#include "platform/linux/frame_status_tracker.h"

namespace tavolu {

FrameStatus FrameStatusTracker::next(const Changes& changes) {
  bool complete =
      first_ || pending_ || changes.damaged || changes.cursorChanged || changes.geometryChanged;
  first_ = false;
  pending_ = false;
  return complete ? FrameStatus::complete : FrameStatus::idle;
}

void FrameStatusTracker::dropped(FrameStatus status) {
  if (status == FrameStatus::complete) pending_ = true;
}

}  // namespace tavolu
