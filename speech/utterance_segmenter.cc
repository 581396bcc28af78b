#include "speech/utterance_segmenter.h"

#include <algorithm>
#include <cmath>

namespace tavolu::speech {

UtteranceSegmenter::UtteranceSegmenter(SegmenterSettings settings) : s_(settings) {}

double UtteranceSegmenter::frameEnergyDb(std::span<const int16_t> frame) {
  if (frame.empty()) return 0;
  double sum = 0;
  for (int16_t v : frame) sum += static_cast<double>(v) * v;
  return 10 * std::log10(1 + sum / static_cast<double>(frame.size()));
}

void UtteranceSegmenter::push(std::span<const int16_t> samples, std::vector<Utterance>& out) {
  const size_t n = static_cast<size_t>(s_.frameSamples);
  size_t i = 0;
  if (!pending_.empty()) {
    size_t take = std::min(n - pending_.size(), samples.size());
    pending_.insert(pending_.end(), samples.begin(), samples.begin() + take);
    i = take;
    if (pending_.size() < n) return;
    std::vector<int16_t> frame;
    frame.swap(pending_);
    pushFrame(frame, out);
  }
  for (; i + n <= samples.size(); i += n) pushFrame(samples.subspan(i, n), out);
  pending_.assign(samples.begin() + i, samples.end());
}

void UtteranceSegmenter::pushFrame(std::span<const int16_t> frame, std::vector<Utterance>& out) {
  const double e = frameEnergyDb(frame);
  // The floor follows quiet frames at once and loud ones only slowly, so speech barely lifts it
  // while a noisier room is learnt within seconds.
  if (floorDb_ < 0 || e < floorDb_)
    floorDb_ = e;
  else
    floorDb_ += std::min(e - floorDb_, 0.02);
  const bool voiced = e >= s_.minimumSpeechDb && e >= floorDb_ + s_.speechAboveFloorDb;
  const int64_t frameStart = position_;
  position_ += static_cast<int64_t>(frame.size());

  if (!inSpeech_) {
    preroll_.emplace_back(frame.begin(), frame.end());
    if (static_cast<int>(preroll_.size()) > s_.prerollFrames) preroll_.pop_front();
    recentVoiced_.push_back(voiced);
    if (static_cast<int>(recentVoiced_.size()) > s_.onsetWindow) recentVoiced_.pop_front();
    if (std::count(recentVoiced_.begin(), recentVoiced_.end(), true) < s_.onsetFrames) return;
    inSpeech_ = true;
    silentRun_ = 0;
    current_ = {};
    currentEnergy_.clear();
    current_.startSample = frameStart + static_cast<int64_t>(frame.size()) -
                           static_cast<int64_t>(preroll_.size()) * s_.frameSamples;
    for (auto& f : preroll_) {
      current_.samples.insert(current_.samples.end(), f.begin(), f.end());
      currentEnergy_.push_back(frameEnergyDb(f));
    }
    preroll_.clear();
    recentVoiced_.clear();
    return;
  }

  current_.samples.insert(current_.samples.end(), frame.begin(), frame.end());
  currentEnergy_.push_back(e);
  silentRun_ = voiced ? 0 : silentRun_ + 1;
  if (silentRun_ >= s_.hangoverFrames) return endUtterance(out);
  if (static_cast<int>(currentEnergy_.size()) >= s_.maximumFrames) {
    // Cut at the quietest frame of the last fifth, keeping the rest for the next utterance.
    const size_t from = currentEnergy_.size() - currentEnergy_.size() / 5;
    const size_t cut =
        static_cast<size_t>(std::min_element(currentEnergy_.begin() + from, currentEnergy_.end()) -
                            currentEnergy_.begin()) +
        1;
    const size_t cutSample = cut * static_cast<size_t>(s_.frameSamples);
    Utterance rest;
    rest.startSample = current_.startSample + static_cast<int64_t>(cutSample);
    rest.samples.assign(current_.samples.begin() + cutSample, current_.samples.end());
    std::vector<double> restEnergy(currentEnergy_.begin() + cut, currentEnergy_.end());
    current_.samples.resize(cutSample);
    out.push_back(std::move(current_));
    current_ = std::move(rest);
    currentEnergy_ = std::move(restEnergy);
    silentRun_ = 0;
  }
}

void UtteranceSegmenter::endUtterance(std::vector<Utterance>& out) {
  inSpeech_ = false;
  out.push_back(std::move(current_));
  current_ = {};
  currentEnergy_.clear();
}

void UtteranceSegmenter::finish(std::vector<Utterance>& out) {
  // Less than a frame is left: it belongs to the utterance in progress, else it is dropped.
  if (inSpeech_) {
    current_.samples.insert(current_.samples.end(), pending_.begin(), pending_.end());
    endUtterance(out);
  }
  pending_.clear();
}

}  // namespace tavolu::speech
