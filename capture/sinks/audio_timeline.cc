#include "capture/sinks/audio_timeline.h"

#include <algorithm>

namespace tavolu {

AudioTimeline::Placement AudioTimeline::place(int64_t start, int64_t frames) {
  Placement p;
  int64_t drift = start - position_;
  int64_t tolerance = started_ ? tolerance_ : 0;
  started_ = true;
  if (drift > tolerance) p.silence = drift;
  if (drift < -tolerance) p.skip = std::min(-drift, frames);
  position_ += p.silence + frames - p.skip;
  return p;
}

}  // namespace tavolu
