#include "segment/engine/interpreter.h"

#include <cstring>
#include <string>

#include "platform/error.h"

namespace tavolu::segment {

namespace {

[[noreturn]] void unusable(int op, const OpDesc& desc, const std::string& what) {
  throw Error("Segmentation", 2,
              "The segmentation model is not usable: operator " + std::to_string(op) + " (" +
                  opKindName(desc.kind) + ") " + what + ".");
}

// Rank 1 to 4 with a batch of 1, as height x width x channels.
bool toShape3(const std::vector<int>& s, Shape3& out) {
  if (s.empty() || s.size() > 4) return false;
  if (s.size() == 4 && s[0] != 1) return false;
  int dims[3] = {1, 1, 1};
  const size_t n = std::min<size_t>(s.size(), 3);
  for (size_t i = 0; i < n; ++i) dims[3 - n + i] = s[s.size() - n + i];
  out = {dims[0], dims[1], dims[2]};
  return true;
}

bool broadcastsTo(Shape3 a, Shape3 out) {
  return (a.h == out.h || a.h == 1) && (a.w == out.w || a.w == 1) && (a.c == out.c || a.c == 1);
}

}  // namespace

Interpreter::Interpreter(Graph graph, WorkerPool& pool) : graph_(std::move(graph)), pool_(pool) {
  const size_t n = graph_.tensors.size();
  shapes_.resize(n);
  values_.resize(n);
  known_.assign(n, false);
  constant_.assign(n, false);
  for (size_t i = 0; i < n; ++i) {
    TensorDesc& t = graph_.tensors[i];
    if (t.data.empty()) continue;
    known_[i] = constant_[i] = true;
    if (t.type == ElementType::kFloat32) {
      values_[i].resize(t.elementCount());
      std::memcpy(values_[i].data(), t.data.data(), t.data.size());
    } else if (t.type == ElementType::kFloat16) {
      values_[i].resize(t.elementCount());
      for (long long k = 0; k < t.elementCount(); ++k)
        values_[i][k] =
            halfToFloat(static_cast<uint16_t>(t.data[2 * k] | (t.data[2 * k + 1] << 8)));
    }
  }
  if (graph_.inputs.size() != 1 || graph_.outputs.empty())
    throw Error("Segmentation", 2, "The segmentation model is not usable: it must have one input.");
  inputIndex_ = graph_.inputs[0];
  outputIndex_ = graph_.outputs[0];
  const TensorDesc& input = graph_.tensors[inputIndex_];
  if (input.type != ElementType::kFloat32 || !toShape3(input.shape, shapes_[inputIndex_]) ||
      input.shape.size() != 4)
    throw Error("Segmentation", 2,
                "The segmentation model is not usable: its input is not a float32 image.");
  values_[inputIndex_].resize(shapes_[inputIndex_].size());
  known_[inputIndex_] = true;
  for (int i = 0; i < static_cast<int>(graph_.ops.size()); ++i) prepare(graph_.ops[i], i);
  if (!known_[outputIndex_])
    throw Error("Segmentation", 2,
                "The segmentation model is not usable: no operator makes its output.");
}

void Interpreter::prepare(const OpDesc& op, int index) {
  for (int t : op.inputs)
    if (t >= 0 && !known_[t]) unusable(index, op, "reads a tensor before it is made");
  const int outT = op.outputs[0];
  if (known_[outT]) unusable(index, op, "writes a tensor that already exists");
  const TensorDesc& outDesc = graph_.tensors[outT];
  if (outDesc.type != ElementType::kFloat32)
    unusable(index, op, "has an output that is not float32");
  if (op.kind == OpKind::kDequantize) {
    // Weights of any shape: widened once here, never again.
    const int t = op.inputs.empty() ? -1 : op.inputs[0];
    if (t < 0 || !constant_[t] || graph_.tensors[t].type != ElementType::kFloat16)
      unusable(index, op, "converts something other than constant float16 data");
    if (graph_.tensors[t].elementCount() != outDesc.elementCount())
      unusable(index, op, "changes the element count");
    values_[outT] = values_[t];
    toShape3(outDesc.shape, shapes_[outT]);
    known_[outT] = constant_[outT] = true;
    return;
  }
  Shape3 os;
  if (!toShape3(outDesc.shape, os)) unusable(index, op, "has an output this engine cannot hold");
  auto floatInput = [&](size_t k, Shape3& s) -> int {
    if (k >= op.inputs.size() || op.inputs[k] < 0) unusable(index, op, "lacks an input");
    const int t = op.inputs[k];
    if (graph_.tensors[t].type != ElementType::kFloat32 || !toShape3(graph_.tensors[t].shape, s))
      unusable(index, op, "has an input of an unusable type or rank");
    return t;
  };
  // Filter weights: constant float32 of rank 4 (OHWI, or 1HWC for depthwise).
  auto weights = [&](size_t k) -> int {
    if (k >= op.inputs.size() || op.inputs[k] < 0) unusable(index, op, "lacks its weights");
    const int t = op.inputs[k];
    if (graph_.tensors[t].type != ElementType::kFloat32 || !constant_[t] ||
        graph_.tensors[t].shape.size() != 4)
      unusable(index, op, "needs constant float32 weights of rank 4");
    for (int d : graph_.tensors[t].shape)
      if (d < 1) unusable(index, op, "has empty weights");
    return t;
  };
  auto constantInts = [&](size_t k) {
    if (k >= op.inputs.size() || op.inputs[k] < 0) unusable(index, op, "lacks an input");
    const TensorDesc& t = graph_.tensors[op.inputs[k]];
    if (t.type != ElementType::kInt32 || t.data.empty())
      unusable(index, op, "needs a constant int32 input");
    std::vector<int> v(t.elementCount());
    std::memcpy(v.data(), t.data.data(), v.size() * sizeof(int));
    return v;
  };
  auto optionalBias = [&](size_t k, int count) -> bool {
    if (k >= op.inputs.size() || op.inputs[k] < 0) return false;
    const int t = op.inputs[k];
    if (!constant_[t] || static_cast<int>(values_[t].size()) != count)
      unusable(index, op, "has a bias that does not match its output channels");
    return true;
  };
  auto checkWindow = [&](const WindowParams& w) {
    if (w.strideH < 1 || w.strideW < 1 || w.dilationH < 1 || w.dilationW < 1)
      unusable(index, op, "has a stride or dilation below 1");
  };

  Step step{op};
  Shape3 is, bs;
  switch (op.kind) {
    case OpKind::kConv2d: {
      floatInput(0, is);
      const int w = weights(1);
      const auto& wshape = graph_.tensors[w].shape;
      checkWindow(op.window);
      if (wshape[3] != is.c || wshape[0] != os.c ||
          os.h != windowOutputSize(op.window.padding, is.h, wshape[1], op.window.strideH,
                                   op.window.dilationH) ||
          os.w != windowOutputSize(op.window.padding, is.w, wshape[2], op.window.strideW,
                                   op.window.dilationW))
        unusable(index, op, "has shapes that do not fit together");
      std::span<const float> bias;
      if (optionalBias(2, os.c)) bias = values_[op.inputs[2]];
      filters_.push_back(
          prepareConvFilter(values_[w], wshape[0], wshape[1], wshape[2], wshape[3], bias));
      step.convFilter = static_cast<int>(filters_.size()) - 1;
      break;
    }
    case OpKind::kDepthwiseConv2d: {
      floatInput(0, is);
      const auto& wshape = graph_.tensors[weights(1)].shape;
      checkWindow(op.window);
      if (wshape[0] != 1) unusable(index, op, "needs 1HWC weights");
      if (op.depthMultiplier < 1 || wshape[3] != os.c || os.c != is.c * op.depthMultiplier ||
          os.h != windowOutputSize(op.window.padding, is.h, wshape[1], op.window.strideH,
                                   op.window.dilationH) ||
          os.w != windowOutputSize(op.window.padding, is.w, wshape[2], op.window.strideW,
                                   op.window.dilationW))
        unusable(index, op, "has shapes that do not fit together");
      optionalBias(2, os.c);
      break;
    }
    case OpKind::kTransposeConvBias: {
      floatInput(0, is);
      const auto& wshape = graph_.tensors[weights(1)].shape;
      checkWindow(op.window);
      // The input must be what a forward convolution of the output would give.
      if (wshape[3] != is.c || wshape[0] != os.c ||
          is.h != windowOutputSize(op.window.padding, os.h, wshape[1], op.window.strideH, 1) ||
          is.w != windowOutputSize(op.window.padding, os.w, wshape[2], op.window.strideW, 1))
        unusable(index, op, "has shapes that do not fit together");
      optionalBias(2, os.c);
      break;
    }
    case OpKind::kAdd:
    case OpKind::kMul:
      floatInput(0, is);
      floatInput(1, bs);
      if (!broadcastsTo(is, os) || !broadcastsTo(bs, os) || std::max(is.h, bs.h) != os.h ||
          std::max(is.w, bs.w) != os.w || std::max(is.c, bs.c) != os.c)
        unusable(index, op, "has shapes that do not broadcast to its output");
      break;
    case OpKind::kHardSwish:
    case OpKind::kRelu:
    case OpKind::kLogistic:
      floatInput(0, is);
      if (is.size() != os.size()) unusable(index, op, "changes the element count");
      break;
    case OpKind::kDequantize:  // handled above
      break;
    case OpKind::kAveragePool2d:
      floatInput(0, is);
      checkWindow(op.window);
      if (op.filterH < 1 || op.filterW < 1 || os.c != is.c ||
          os.h != windowOutputSize(op.window.padding, is.h, op.filterH, op.window.strideH, 1) ||
          os.w != windowOutputSize(op.window.padding, is.w, op.filterW, op.window.strideW, 1))
        unusable(index, op, "has shapes that do not fit together");
      break;
    case OpKind::kMean: {
      floatInput(0, is);
      const size_t rank = graph_.tensors[op.inputs[0]].shape.size();
      bool overH = false, overW = false;
      for (int axis : constantInts(1)) {
        if (axis < 0) axis += static_cast<int>(rank);
        if (rank == 4 && axis == 1)
          overH = true;
        else if (rank == 4 && axis == 2)
          overW = true;
        else
          unusable(index, op, "averages over an axis other than height or width");
      }
      if (os != Shape3{overH ? 1 : is.h, overW ? 1 : is.w, is.c})
        unusable(index, op, "has an output shape that does not fit");
      step.op.filterH = overH;
      step.op.filterW = overW;
      break;
    }
    case OpKind::kResizeBilinear: {
      floatInput(0, is);
      auto size = constantInts(1);
      if (size.size() != 2 || size[0] != os.h || size[1] != os.w || os.c != is.c || is.h < 1 ||
          is.w < 1)
        unusable(index, op, "has a size that does not match its output");
      break;
    }
  }
  shapes_[outT] = os;
  values_[outT].resize(os.size());
  known_[outT] = true;
  steps_.push_back(std::move(step));
  // Shapes of inputs are kept for run().
  for (int t : op.inputs)
    if (t >= 0 && graph_.tensors[t].type != ElementType::kInt32)
      toShape3(graph_.tensors[t].shape, shapes_[t]);
}

void Interpreter::invoke() {
  for (const Step& s : steps_) run(s);
}

void Interpreter::run(const Step& step) {
  const OpDesc& op = step.op;
  const int o = op.outputs[0];
  float* out = values_[o].data();
  const Shape3 os = shapes_[o];
  auto shapeOf = [&](size_t k) { return shapes_[op.inputs[k]]; };
  auto optional = [&](size_t k) -> const float* {
    return k < op.inputs.size() && op.inputs[k] >= 0 ? in(op.inputs[k]) : nullptr;
  };
  switch (op.kind) {
    case OpKind::kConv2d:
      conv2d(in(op.inputs[0]), shapeOf(0), filters_[step.convFilter], op.window, out, os, pool_);
      break;
    case OpKind::kDepthwiseConv2d: {
      const auto& w = graph_.tensors[op.inputs[1]].shape;
      depthwiseConv2d(in(op.inputs[0]), shapeOf(0), in(op.inputs[1]), w[1], w[2], optional(2),
                      op.depthMultiplier, op.window, out, os, pool_);
      break;
    }
    case OpKind::kTransposeConvBias: {
      const auto& w = graph_.tensors[op.inputs[1]].shape;
      transposeConv2dBias(in(op.inputs[0]), shapeOf(0), in(op.inputs[1]), w[1], w[2], optional(2),
                          op.window.padding, op.window.strideH, op.window.strideW, out, os);
      break;
    }
    case OpKind::kAdd:
      add(in(op.inputs[0]), shapeOf(0), in(op.inputs[1]), shapeOf(1), out, os, op.window.activation,
          pool_);
      break;
    case OpKind::kMul:
      mul(in(op.inputs[0]), shapeOf(0), in(op.inputs[1]), shapeOf(1), out, os, op.window.activation,
          pool_);
      break;
    case OpKind::kHardSwish:
      hardSwish(in(op.inputs[0]), out, os.size());
      break;
    case OpKind::kRelu:
      relu(in(op.inputs[0]), out, os.size());
      break;
    case OpKind::kLogistic:
      logistic(in(op.inputs[0]), out, os.size());
      break;
    case OpKind::kDequantize:  // constants only, done in prepare()
      break;
    case OpKind::kAveragePool2d:
      averagePool2d(in(op.inputs[0]), shapeOf(0), op.filterH, op.filterW, op.window, out, os);
      break;
    case OpKind::kMean:
      meanSpatial(in(op.inputs[0]), shapeOf(0), op.filterH != 0, op.filterW != 0, out);
      break;
    case OpKind::kResizeBilinear:
      resizeBilinear(in(op.inputs[0]), shapeOf(0), out, os, op.alignCorners, op.halfPixelCenters);
      break;
  }
}

}  // namespace tavolu::segment
