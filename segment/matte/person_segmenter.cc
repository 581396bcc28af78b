#include "segment/matte/person_segmenter.h"

#include <cmath>

#include "platform/error.h"

namespace tavolu::segment {

const char* modelFileFor(int width, int height) {
  // Compare the stretch each input shape imposes: |log(aspect / model aspect)|.
  const double aspect = static_cast<double>(width) / std::max(height, 1);
  const double square = std::fabs(std::log(aspect));
  const double landscape = std::fabs(std::log(aspect / (256.0 / 144.0)));
  return landscape < square ? kLandscapeModelFile : kSquareModelFile;
}

PersonSegmenter::PersonSegmenter(const std::string& modelPath, WorkerPool& pool)
    : interpreter_(readTfliteModel(modelPath), pool) {
  if (interpreter_.inputShape().c != 3 || interpreter_.outputShape().c != 1)
    throw Error("Segmentation", 2,
                "The segmentation model " + modelPath +
                    " is not usable: it must take an RGB picture and give one mask channel.");
  mask_.resize(static_cast<size_t>(maskWidth()) * maskHeight());
}

const uint8_t* PersonSegmenter::run(const uint8_t* rgbx, int stride) {
  float* in = interpreter_.input();
  const int w = inputWidth(), h = inputHeight();
  for (int y = 0; y < h; ++y) {
    const uint8_t* src = rgbx + static_cast<size_t>(y) * stride;
    float* dst = in + static_cast<size_t>(y) * w * 3;
    for (int x = 0; x < w; ++x) {
      dst[3 * x + 0] = src[4 * x + 0] * (1.0f / 255.0f);
      dst[3 * x + 1] = src[4 * x + 1] * (1.0f / 255.0f);
      dst[3 * x + 2] = src[4 * x + 2] * (1.0f / 255.0f);
    }
  }
  interpreter_.invoke();
  const float* out = interpreter_.output();
  for (size_t i = 0; i < mask_.size(); ++i) {
    const float p = out[i];
    if (!(p >= 0.0f && p <= 1.0f)) throw Error("Mask", 3, "Person segmentation returned no mask.");
    mask_[i] = static_cast<uint8_t>(p * 255.0f + 0.5f);
  }
  return mask_.data();
}

}  // namespace tavolu::segment
