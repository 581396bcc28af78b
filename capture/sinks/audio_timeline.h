// Places audio buffers on the file's timeline by their presentation times. Buffers follow
// each other without a seam while their times agree within a tolerance (capture clocks
// jitter); a larger gap is filled with silence and a larger overlap is cut from the start of
// the later buffer, so the sound stays in step with the video.
#pragma once

#include <cstdint>

namespace tavolu {

class AudioTimeline {
 public:
  struct Placement {
    int64_t silence = 0;  // frames of silence to write before the buffer
    int64_t skip = 0;     // frames to cut from the start of the buffer
  };

  // `tolerance`: frames of disagreement absorbed without silence or cuts.
  explicit AudioTimeline(int64_t tolerance) : tolerance_(tolerance) {}

  // Places a buffer of `frames` frames whose time is `start` frames after the origin, and
  // advances the timeline past what gets written. The first buffer is placed exactly.
  Placement place(int64_t start, int64_t frames);

  // Frames written so far, silence included.
  int64_t position() const { return position_; }

 private:
  int64_t tolerance_;
  int64_t position_ = 0;
  bool started_ = false;
};

}  // namespace tavolu
