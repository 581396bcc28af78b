#include "platform/linux/audio_clock.h"

#include <cstdlib>

namespace tavolu {

int64_t AudioClock::continuation() const {
  // Counted from the run's start in frames, so rounding never accumulates.
  return *anchor_ +
         static_cast<int64_t>(static_cast<__int128>(framesInRun_) * 1'000'000'000 / rate_);
}

int64_t AudioClock::stamp(int64_t readNs, int64_t latencyNs, int64_t frames) {
  int64_t measured = readNs - (latencyNs > 0 ? latencyNs : 0);
  bool restart = !anchor_;
  if (!restart) {
    int64_t off = std::llabs(measured - continuation());
    offBuffers_ = off > kToleranceNs ? offBuffers_ + 1 : 0;
    restart = off > kJumpNs || offBuffers_ >= kPersistentBuffers;
  }
  if (restart) {
    anchor_ = measured;
    framesInRun_ = 0;
    offBuffers_ = 0;
  }
  int64_t t = continuation();
  framesInRun_ += frames > 0 ? frames : 0;
  return t;
}

}  // namespace tavolu
