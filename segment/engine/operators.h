// The numeric kernels of the inference engine: float32 NHWC tensors with batch 1, filters
// prepared once by the interpreter. Each kernel writes its whole output.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "segment/engine/worker_pool.h"

namespace tavolu::segment {

// Height, width and channels of a batch-1 NHWC tensor.
struct Shape3 {
  int h = 1, w = 1, c = 1;
  long long size() const { return static_cast<long long>(h) * w * c; }
  bool operator==(const Shape3&) const = default;
};

enum class Padding { kSame, kValid };
enum class Activation { kNone, kRelu, kReluN1To1, kRelu6 };

struct WindowParams {
  Padding padding = Padding::kValid;
  int strideH = 1, strideW = 1;
  int dilationH = 1, dilationW = 1;
  Activation activation = Activation::kNone;
};

// Output size of a sliding window over `in` positions.
int windowOutputSize(Padding padding, int in, int filter, int stride, int dilation);
// Padding before the first position (the smaller half when the total is odd).
int windowPaddingBefore(Padding padding, int in, int filter, int stride, int dilation, int out);

// Applies a fused activation in place.
void applyActivation(Activation activation, float* data, long long count);

// A convolution filter rearranged once for the matrix products of conv2d.
struct ConvFilter {
  int outChannels = 0, kh = 0, kw = 0, inChannels = 0;
  std::vector<float> matrix;  // (kh * kw * inChannels) x outChannels, row-major
  std::vector<float> bias;    // outChannels (zeros when the model has none)
};
// From OHWI weights and an optional bias.
ConvFilter prepareConvFilter(std::span<const float> ohwi, int o, int kh, int kw, int i,
                             std::span<const float> bias);

void conv2d(const float* in, Shape3 inShape, const ConvFilter& filter, const WindowParams& p,
            float* out, Shape3 outShape, WorkerPool& pool);

// Depthwise filter 1 x kh x kw x (inChannels * multiplier), bias per output channel.
void depthwiseConv2d(const float* in, Shape3 inShape, const float* filter, int kh, int kw,
                     const float* bias, int multiplier, const WindowParams& p, float* out,
                     Shape3 outShape, WorkerPool& pool);

// Transposed convolution with bias: filter OHWI, output size given by the caller.
void transposeConv2dBias(const float* in, Shape3 inShape, const float* ohwi, int kh, int kw,
                         const float* bias, Padding padding, int strideH, int strideW, float* out,
                         Shape3 outShape);

// Element-wise a + b and a * b where each of a and b either has the output shape or is
// broadcast along the dimensions where its size is 1.
void add(const float* a, Shape3 aShape, const float* b, Shape3 bShape, float* out, Shape3 outShape,
         Activation activation, WorkerPool& pool);
void mul(const float* a, Shape3 aShape, const float* b, Shape3 bShape, float* out, Shape3 outShape,
         Activation activation, WorkerPool& pool);

void hardSwish(const float* in, float* out, long long count);
void relu(const float* in, float* out, long long count);
void logistic(const float* in, float* out, long long count);

// Average over each window; positions in the padding are not counted.
void averagePool2d(const float* in, Shape3 inShape, int filterH, int filterW, const WindowParams& p,
                   float* out, Shape3 outShape);
// Mean over height and/or width (the spatial axes); channels are kept.
void meanSpatial(const float* in, Shape3 inShape, bool overH, bool overW, float* out);

void resizeBilinear(const float* in, Shape3 inShape, float* out, Shape3 outShape, bool alignCorners,
                    bool halfPixelCenters);

// IEEE half precision to single precision.
float halfToFloat(uint16_t h);

}  // namespace tavolu::segment
