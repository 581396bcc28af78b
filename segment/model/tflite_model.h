// Reads a TensorFlow Lite model file into the engine's own graph description, refusing
// anything the engine cannot run: an unknown operator, a second subgraph, a tensor type other
// than float32, float16 or int32, or indices and buffers that do not fit together.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "segment/engine/operators.h"

namespace tavolu::segment {

enum class OpKind {
  kConv2d,
  kDepthwiseConv2d,
  kAdd,
  kMul,
  kHardSwish,
  kRelu,
  kLogistic,
  kAveragePool2d,
  kMean,
  kResizeBilinear,
  kDequantize,
  kTransposeConvBias,  // the custom "Convolution2DTransposeBias"
};

const char* opKindName(OpKind kind);

enum class ElementType { kFloat32, kFloat16, kInt32 };

struct TensorDesc {
  std::string name;
  std::vector<int> shape;
  ElementType type = ElementType::kFloat32;
  std::vector<uint8_t> data;  // constant contents, little-endian; empty for computed tensors
  long long elementCount() const;
};

struct OpDesc {
  OpKind kind;
  std::vector<int> inputs;  // tensor indices; -1 for an absent optional input
  std::vector<int> outputs;
  WindowParams window;           // convolutions and pooling
  int filterH = 0, filterW = 0;  // pooling
  int depthMultiplier = 1;
  bool alignCorners = false, halfPixelCenters = false;  // resize
  bool keepDims = false;                                // mean
};

struct Graph {
  std::vector<TensorDesc> tensors;
  std::vector<OpDesc> ops;  // in execution order
  std::vector<int> inputs, outputs;
};

// Parses the bytes of a .tflite file; throws tavolu::Error (domain "Segmentation").
Graph parseTfliteModel(std::span<const uint8_t> bytes);
// Reads and parses a .tflite file.
Graph readTfliteModel(const std::string& path);

}  // namespace tavolu::segment
