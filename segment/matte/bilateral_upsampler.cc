#include "segment/matte/bilateral_upsampler.h"

#include <libyuv/scale.h>

#include <algorithm>
#include <cmath>

namespace tavolu::segment {

namespace {
constexpr int kMaxTaps = 8;
constexpr int kFlatSpread = 2;  // grey levels
}  // namespace

BilateralUpsampler::BilateralUpsampler(double spatialSigma, double lumaSigma)
    : spatialSigma_(spatialSigma) {
  for (int d = 0; d < 256; ++d) {
    const double x = d / 255.0;
    rangeWeight_[d] = static_cast<float>(std::exp(-x * x / (2 * lumaSigma * lumaSigma)));
  }
}

void BilateralUpsampler::prepareAxis(int outSize, int inSize, std::vector<int>& first,
                                     std::vector<float>& weights, int& taps) const {
  const double scale = static_cast<double>(inSize) / outSize;
  // The spatial sigma is in output pixels; in mask samples it shrinks by the scale.
  const double sigma = std::max(spatialSigma_ * scale, 0.25);
  const int radius = std::clamp(static_cast<int>(std::ceil(2 * sigma)), 1, kMaxTaps / 2);
  taps = 2 * radius;
  first.resize(outSize);
  weights.resize(static_cast<size_t>(outSize) * taps);
  for (int o = 0; o < outSize; ++o) {
    const double pos = (o + 0.5) * scale - 0.5;  // output centre in mask samples
    const int start = static_cast<int>(std::floor(pos)) - radius + 1;
    first[o] = start;
    for (int k = 0; k < taps; ++k) {
      const double d = pos - (start + k);
      weights[static_cast<size_t>(o) * taps + k] =
          static_cast<float>(std::exp(-d * d / (2 * sigma * sigma)));
    }
  }
}

void BilateralUpsampler::upsample(const uint8_t* guide, int gw, int gh, int guideStride,
                                  const uint8_t* mask, int mw, int mh, int maskStride, uint8_t* out,
                                  int outStride, WorkerPool& pool) {
  if (gw != gw_ || gh != gh_ || mw != mw_ || mh != mh_) {
    gw_ = gw, gh_ = gh, mw_ = mw, mh_ = mh;
    prepareAxis(gw, mw, firstX_, weightX_, tapsX_);
    prepareAxis(gh, mh, firstY_, weightY_, tapsY_);
    border_ = kMaxTaps;
    padW_ = mw + 2 * border_;
    padH_ = mh + 2 * border_;
    smallLuma_.resize(static_cast<size_t>(mw) * mh);
    paddedMask_.resize(static_cast<size_t>(padW_) * padH_);
    paddedLuma_.resize(paddedMask_.size());
    uniform_.resize(paddedMask_.size());
    flatValue_.resize(paddedMask_.size());
  }
  // The guide's luma where the mask samples sit.
  libyuv::ScalePlane(guide, guideStride, gw, gh, smallLuma_.data(), mw, mw, mh, libyuv::kFilterBox);
  auto pad = [&](const uint8_t* src, int stride, std::vector<uint8_t>& dst) {
    for (int y = 0; y < padH_; ++y) {
      const uint8_t* row = src + static_cast<size_t>(std::clamp(y - border_, 0, mh - 1)) * stride;
      uint8_t* d = dst.data() + static_cast<size_t>(y) * padW_;
      for (int x = 0; x < padW_; ++x) d[x] = row[std::clamp(x - border_, 0, mw - 1)];
    }
  };
  pad(mask, maskStride, paddedMask_);
  pad(smallLuma_.data(), mw, paddedLuma_);
  // The result is a weighted mean of a window's mask samples, so where they all lie within
  // kFlatSpread of each other it is their midpoint give or take that much, whatever the
  // weights: most of a frame is plain background or plain person.
  for (int y = 0; y + tapsY_ <= padH_; ++y)
    for (int x = 0; x + tapsX_ <= padW_; ++x) {
      int lo = 255, hi = 0;
      for (int j = 0; j < tapsY_; ++j) {
        const uint8_t* r = paddedMask_.data() + static_cast<size_t>(y + j) * padW_ + x;
        for (int i = 0; i < tapsX_; ++i) lo = std::min<int>(lo, r[i]), hi = std::max<int>(hi, r[i]);
      }
      const size_t at = static_cast<size_t>(y) * padW_ + x;
      uniform_[at] = hi - lo <= kFlatSpread;
      flatValue_[at] = static_cast<uint8_t>((lo + hi + 1) / 2);
    }

  pool.parallelFor(gh, gw * 4.0, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      const int wy = firstY_[y] + border_;
      const float* weightsY = weightY_.data() + static_cast<size_t>(y) * tapsY_;
      const uint8_t* g = guide + static_cast<size_t>(y) * guideStride;
      uint8_t* o = out + static_cast<size_t>(y) * outStride;
      for (int x = 0; x < gw; ++x) {
        const int wx = firstX_[x] + border_;
        const size_t anchor = static_cast<size_t>(wy) * padW_ + wx;
        if (uniform_[anchor]) {
          o[x] = flatValue_[anchor];
          continue;
        }
        const float* weightsX = weightX_.data() + static_cast<size_t>(x) * tapsX_;
        const int luma = g[x];
        float sum = 0, total = 0;
        for (int j = 0; j < tapsY_; ++j) {
          const uint8_t* m = paddedMask_.data() + anchor + static_cast<size_t>(j) * padW_;
          const uint8_t* l = paddedLuma_.data() + anchor + static_cast<size_t>(j) * padW_;
          for (int i = 0; i < tapsX_; ++i) {
            const float w = weightsY[j] * weightsX[i] * rangeWeight_[std::abs(luma - l[i])];
            sum += w * m[i];
            total += w;
          }
        }
        o[x] = static_cast<uint8_t>(std::clamp(sum / total + 0.5f, 0.0f, 255.0f));
      }
    }
  });
}

}  // namespace tavolu::segment
