// Splits a stream of 16 kHz samples into utterances at pauses, by frame energy against a
// running noise floor. Each utterance is recognised on its own: short utterances keep the
// recogniser's search small, its mean normalisation fits the speaker, and long silences never
// reach it.
#pragma once

#include <cstdint>
#include <deque>
#include <span>
#include <vector>

namespace tavolu::speech {

struct Utterance {
  int64_t startSample = 0;  // position of samples[0] in the whole audio
  std::vector<int16_t> samples;
};

struct SegmenterSettings {
  int frameSamples = 160;          // 10 ms at 16 kHz
  double speechAboveFloorDb = 12;  // a frame this far above the noise floor is voiced
  double minimumSpeechDb = 30;     // ...and at least this loud (dB over one LSB), ignoring hiss
  int onsetWindow = 10;            // frames looked at to decide that speech starts
  int onsetFrames = 4;             // voiced frames among them that start an utterance
  int prerollFrames = 30;          // kept before the onset
  int hangoverFrames = 50;         // silent frames that end an utterance
  int maximumFrames = 3000;        // 30 s: longer speech is cut at its quietest recent frame
};

class UtteranceSegmenter {
 public:
  explicit UtteranceSegmenter(SegmenterSettings settings = {});

  // Feeds samples; utterances that ended are appended to `out`.
  void push(std::span<const int16_t> samples, std::vector<Utterance>& out);
  // Ends the stream; the utterance in progress, if any, is appended.
  void finish(std::vector<Utterance>& out);

  // Frame energy in dB over one LSB squared (0 for digital silence).
  static double frameEnergyDb(std::span<const int16_t> frame);

 private:
  void pushFrame(std::span<const int16_t> frame, std::vector<Utterance>& out);
  void endUtterance(std::vector<Utterance>& out);

  SegmenterSettings s_;
  std::vector<int16_t> pending_;  // samples short of a whole frame
  int64_t position_ = 0;          // samples consumed into whole frames
  double floorDb_ = -1;           // running noise floor; negative until the first frame
  std::deque<bool> recentVoiced_;
  std::deque<std::vector<int16_t>> preroll_;
  bool inSpeech_ = false;
  Utterance current_;
  int silentRun_ = 0;
  std::vector<double> currentEnergy_;  // per frame of the current utterance
};

}  // namespace tavolu::speech
