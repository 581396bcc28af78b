// Person segmentation with the MediaPipe selfie segmentation model run by the project's
// inference engine: an upright colour picture at the model's input size in, a mask of the
// model's output size out (0 background to 255 person).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "segment/engine/interpreter.h"

namespace tavolu::segment {

// The two variants of the model: a square one (256 x 256) and a landscape one (256 x 144).
constexpr const char* kSquareModelFile = "selfie_segmentation.tflite";
constexpr const char* kLandscapeModelFile = "selfie_segmentation_landscape.tflite";

// The variant whose input shape stretches a width x height picture least: the landscape one
// for pictures wider than 4:3 (16:9 cameras), the square one for 4:3, square and portrait.
const char* modelFileFor(int width, int height);

class PersonSegmenter {
 public:
  // Loads the model; throws tavolu::Error (domain "Segmentation") when it cannot be used.
  PersonSegmenter(const std::string& modelPath, WorkerPool& pool);

  int inputWidth() const { return interpreter_.inputShape().w; }
  int inputHeight() const { return interpreter_.inputShape().h; }
  int maskWidth() const { return interpreter_.outputShape().w; }
  int maskHeight() const { return interpreter_.outputShape().h; }

  // Segments one picture of inputWidth() x inputHeight(), 4 bytes per pixel (R, G, B, unused).
  // Returns the mask (maskWidth() x maskHeight(), rows packed), valid until the next call.
  // Throws Mask error 3 when the model gives no usable mask.
  const uint8_t* run(const uint8_t* rgbx, int stride);

 private:
  Interpreter interpreter_;
  std::vector<uint8_t> mask_;
};

}  // namespace tavolu::segment
