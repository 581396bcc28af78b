// Host-clock times of captured audio buffers. A buffer read at time `now` from a stream whose
// reported latency is L began L before `now`. Audio from the server is contiguous, so each
// buffer is joined end to start to the previous one; the measured time only decides when that
// run has to start over: at once when it is far off (the source was suspended or data was
// lost), and after a few buffers in a row when it is moderately off (drift). A single odd
// latency report, which happens when the server's timing information is being updated, moves
// nothing, so reader jitter never becomes gaps or overlaps in the audio.
#pragma once

#include <cstdint>
#include <optional>

namespace tavolu {

class AudioClock {
 public:
  static constexpr int64_t kToleranceNs = 20'000'000;  // jitter within this is ignored
  static constexpr int64_t kJumpNs = 200'000'000;      // beyond this the run restarts at once
  static constexpr int kPersistentBuffers = 5;         // moderate offsets that last this long

  explicit AudioClock(int sampleRate) : rate_(sampleRate > 0 ? sampleRate : 1) {}

  // The host time (ns) of the first frame of a buffer of `frames` frames read at `readNs`
  // while `latencyNs` of audio was between the source and the reader.
  int64_t stamp(int64_t readNs, int64_t latencyNs, int64_t frames);
  // Forgets the current run, e.g. after a hole or an overflow in the stream.
  void reset() { anchor_.reset(); }

 private:
  int64_t continuation() const;

  int64_t rate_;
  std::optional<int64_t> anchor_;  // start time of the current run
  int64_t framesInRun_ = 0;
  int offBuffers_ = 0;  // consecutive buffers measured outside the tolerance
};

}  // namespace tavolu
