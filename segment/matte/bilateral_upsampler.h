// Joint bilateral upsampling: brings a low-resolution mask to the size of a guide picture so
// that its edges follow the guide's. Each output pixel averages the nearby mask samples,
// weighted by their distance (spatial sigma, in output pixels) and by how close the guide's
// luma at the sample is to the luma at the output pixel (luma sigma, luma in 0..1).
#pragma once

#include <cstdint>
#include <vector>

#include "segment/engine/worker_pool.h"

namespace tavolu::segment {

class BilateralUpsampler {
 public:
  static constexpr double kSpatialSigma = 3.0;
  static constexpr double kLumaSigma = 0.12;

  explicit BilateralUpsampler(double spatialSigma = kSpatialSigma, double lumaSigma = kLumaSigma);

  // guide: gw x gh luma; mask: mw x mh, 0 background to 255 person; out: gw x gh.
  void upsample(const uint8_t* guide, int gw, int gh, int guideStride, const uint8_t* mask, int mw,
                int mh, int maskStride, uint8_t* out, int outStride, WorkerPool& pool);

 private:
  struct Taps {
    int first;  // first mask index of this output position's window
    std::vector<float> weights;
  };
  // Window start and spatial weights along one axis, per output position.
  void prepareAxis(int outSize, int inSize, std::vector<int>& first, std::vector<float>& weights,
                   int& taps) const;

  double spatialSigma_;
  float rangeWeight_[256];  // by absolute luma difference
  // Cached for the last sizes.
  int gw_ = 0, gh_ = 0, mw_ = 0, mh_ = 0;
  int tapsX_ = 0, tapsY_ = 0;
  std::vector<int> firstX_, firstY_;
  std::vector<float> weightX_, weightY_;
  std::vector<uint8_t> smallLuma_;                // the guide at the mask's size
  std::vector<uint8_t> paddedMask_, paddedLuma_;  // edge-extended so windows never leave them
  std::vector<uint8_t> uniform_;    // 1 where a window's mask samples are nearly equal
  std::vector<uint8_t> flatValue_;  // and then the value they share
  int padW_ = 0, padH_ = 0, border_ = 0;
};

}  // namespace tavolu::segment
