#include "segment/model/tflite_model.h"

#include <fstream>
#include <iterator>

#include "platform/error.h"
#include "tflite_subset_generated.h"

namespace tavolu::segment {

namespace fb = tavolu::tflite;

namespace {

constexpr int kBuiltinAdd = 0, kBuiltinAveragePool2d = 1, kBuiltinConv2d = 3,
              kBuiltinDepthwiseConv2d = 4, kBuiltinDequantize = 6, kBuiltinLogistic = 14,
              kBuiltinMul = 18, kBuiltinRelu = 19, kBuiltinResizeBilinear = 23, kBuiltinCustom = 32,
              kBuiltinMean = 40, kBuiltinHardSwish = 117;

[[noreturn]] void invalid(const std::string& what) {
  throw Error("Segmentation", 2, "The segmentation model is not usable: " + what + ".");
}

Padding padding(fb::Padding p) { return p == fb::Padding_VALID ? Padding::kValid : Padding::kSame; }

Activation activation(fb::ActivationFunctionType a, int opIndex) {
  switch (a) {
    case fb::ActivationFunctionType_NONE:
      return Activation::kNone;
    case fb::ActivationFunctionType_RELU:
      return Activation::kRelu;
    case fb::ActivationFunctionType_RELU_N1_TO_1:
      return Activation::kReluN1To1;
    case fb::ActivationFunctionType_RELU6:
      return Activation::kRelu6;
    default:
      invalid("operator " + std::to_string(opIndex) + " has an unsupported fused activation");
  }
}

std::vector<int> ints(const flatbuffers::Vector<int32_t>* v) {
  return v ? std::vector<int>(v->begin(), v->end()) : std::vector<int>{};
}

int32_t littleEndianInt(const flatbuffers::Vector<uint8_t>* bytes, int index) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | bytes->Get(index * 4 + i);
  return static_cast<int32_t>(v);
}

}  // namespace

const char* opKindName(OpKind kind) {
  switch (kind) {
    case OpKind::kConv2d:
      return "CONV_2D";
    case OpKind::kDepthwiseConv2d:
      return "DEPTHWISE_CONV_2D";
    case OpKind::kAdd:
      return "ADD";
    case OpKind::kMul:
      return "MUL";
    case OpKind::kHardSwish:
      return "HARD_SWISH";
    case OpKind::kRelu:
      return "RELU";
    case OpKind::kLogistic:
      return "LOGISTIC";
    case OpKind::kAveragePool2d:
      return "AVERAGE_POOL_2D";
    case OpKind::kMean:
      return "MEAN";
    case OpKind::kResizeBilinear:
      return "RESIZE_BILINEAR";
    case OpKind::kDequantize:
      return "DEQUANTIZE";
    case OpKind::kTransposeConvBias:
      return "Convolution2DTransposeBias";
  }
  return "?";
}

long long TensorDesc::elementCount() const {
  long long n = 1;
  for (int d : shape) n *= d;
  return n;
}

Graph parseTfliteModel(std::span<const uint8_t> bytes) {
  flatbuffers::Verifier verifier(bytes.data(), bytes.size());
  if (bytes.size() < 8 || !fb::ModelBufferHasIdentifier(bytes.data()) ||
      !fb::VerifyModelBuffer(verifier))
    invalid("the file is not a TensorFlow Lite model");
  const fb::Model* model = fb::GetModel(bytes.data());
  if (!model->subgraphs() || model->subgraphs()->size() != 1)
    invalid("the engine runs models with exactly one subgraph");
  const fb::SubGraph* sub = model->subgraphs()->Get(0);
  if (!sub->tensors() || !sub->operators()) invalid("the subgraph has no tensors or operators");
  const auto* buffers = model->buffers();
  const auto* codes = model->operator_codes();

  Graph g;
  const int tensorCount = static_cast<int>(sub->tensors()->size());
  for (const fb::Tensor* t : *sub->tensors()) {
    TensorDesc desc;
    desc.name = t->name() ? t->name()->str() : std::string();
    desc.shape = ints(t->shape());
    for (int d : desc.shape)
      if (d < 0 || d > (1 << 20)) invalid("tensor \"" + desc.name + "\" has an unusable shape");
    switch (t->type()) {
      case fb::TensorType_FLOAT32:
        desc.type = ElementType::kFloat32;
        break;
      case fb::TensorType_FLOAT16:
        desc.type = ElementType::kFloat16;
        break;
      case fb::TensorType_INT32:
        desc.type = ElementType::kInt32;
        break;
      default:
        invalid("tensor \"" + desc.name + "\" has an unsupported element type");
    }
    if (t->buffer() != 0) {
      if (!buffers || t->buffer() >= buffers->size()) invalid("a tensor names a missing buffer");
      const auto* data = buffers->Get(t->buffer())->data();
      if (data && data->size() > 0) {
        const long long width = desc.type == ElementType::kFloat16 ? 2 : 4;
        if (static_cast<long long>(data->size()) != desc.elementCount() * width)
          invalid("the data of tensor \"" + desc.name + "\" does not match its shape");
        desc.data.assign(data->begin(), data->end());
      }
    }
    g.tensors.push_back(std::move(desc));
  }
  auto checkIndices = [&](const std::vector<int>& v, bool optional) {
    for (int i : v)
      if (i >= tensorCount || i < (optional ? -1 : 0)) invalid("a tensor index is out of range");
  };
  g.inputs = ints(sub->inputs());
  g.outputs = ints(sub->outputs());
  checkIndices(g.inputs, false);
  checkIndices(g.outputs, false);

  for (int index = 0; index < static_cast<int>(sub->operators()->size()); ++index) {
    const fb::Operator* op = sub->operators()->Get(index);
    if (!codes || op->opcode_index() >= codes->size()) invalid("an operator code is missing");
    const fb::OperatorCode* code = codes->Get(op->opcode_index());
    // Older files keep the code only in the deprecated byte; newer ones in both.
    const int builtin = std::max<int>(code->builtin_code(), code->deprecated_builtin_code());
    OpDesc desc;
    desc.inputs = ints(op->inputs());
    desc.outputs = ints(op->outputs());
    checkIndices(desc.inputs, true);
    checkIndices(desc.outputs, false);
    auto need = [&](size_t in) {
      if (desc.inputs.size() < in || desc.outputs.size() != 1)
        invalid("operator " + std::to_string(index) + " has the wrong number of tensors");
    };
    switch (builtin) {
      case kBuiltinConv2d: {
        desc.kind = OpKind::kConv2d;
        need(2);
        const auto* o = op->builtin_options_as_Conv2DOptions();
        if (!o) invalid("CONV_2D operator " + std::to_string(index) + " has no options");
        desc.window = {padding(o->padding()),  o->stride_h(),
                       o->stride_w(),          o->dilation_h_factor(),
                       o->dilation_w_factor(), activation(o->fused_activation_function(), index)};
        break;
      }
      case kBuiltinDepthwiseConv2d: {
        desc.kind = OpKind::kDepthwiseConv2d;
        need(2);
        const auto* o = op->builtin_options_as_DepthwiseConv2DOptions();
        if (!o) invalid("DEPTHWISE_CONV_2D operator " + std::to_string(index) + " has no options");
        desc.window = {padding(o->padding()),  o->stride_h(),
                       o->stride_w(),          o->dilation_h_factor(),
                       o->dilation_w_factor(), activation(o->fused_activation_function(), index)};
        desc.depthMultiplier = o->depth_multiplier();
        break;
      }
      case kBuiltinAveragePool2d: {
        desc.kind = OpKind::kAveragePool2d;
        need(1);
        const auto* o = op->builtin_options_as_Pool2DOptions();
        if (!o) invalid("AVERAGE_POOL_2D operator " + std::to_string(index) + " has no options");
        desc.window = {padding(o->padding()),
                       o->stride_h(),
                       o->stride_w(),
                       1,
                       1,
                       activation(o->fused_activation_function(), index)};
        desc.filterH = o->filter_height();
        desc.filterW = o->filter_width();
        break;
      }
      case kBuiltinAdd:
      case kBuiltinMul: {
        desc.kind = builtin == kBuiltinAdd ? OpKind::kAdd : OpKind::kMul;
        need(2);
        fb::ActivationFunctionType a = fb::ActivationFunctionType_NONE;
        if (const auto* o = op->builtin_options_as_AddOptions()) a = o->fused_activation_function();
        if (const auto* o = op->builtin_options_as_MulOptions()) a = o->fused_activation_function();
        desc.window.activation = activation(a, index);
        break;
      }
      case kBuiltinHardSwish:
        desc.kind = OpKind::kHardSwish;
        need(1);
        break;
      case kBuiltinRelu:
        desc.kind = OpKind::kRelu;
        need(1);
        break;
      case kBuiltinLogistic:
        desc.kind = OpKind::kLogistic;
        need(1);
        break;
      case kBuiltinDequantize:
        desc.kind = OpKind::kDequantize;
        need(1);
        break;
      case kBuiltinMean: {
        desc.kind = OpKind::kMean;
        need(2);
        if (const auto* o = op->builtin_options_as_ReducerOptions()) desc.keepDims = o->keep_dims();
        break;
      }
      case kBuiltinResizeBilinear: {
        desc.kind = OpKind::kResizeBilinear;
        need(2);
        if (const auto* o = op->builtin_options_as_ResizeBilinearOptions()) {
          desc.alignCorners = o->align_corners();
          desc.halfPixelCenters = o->half_pixel_centers();
        }
        break;
      }
      case kBuiltinCustom: {
        const std::string name = code->custom_code() ? code->custom_code()->str() : "";
        if (name != "Convolution2DTransposeBias")
          invalid("it uses the custom operator \"" + name +
                  "\", which this engine does not provide");
        desc.kind = OpKind::kTransposeConvBias;
        need(2);
        // Three little-endian int32: padding (1 same, 2 valid), stride width, stride height.
        const auto* raw = op->custom_options();
        if (!raw || raw->size() < 12)
          invalid("Convolution2DTransposeBias operator " + std::to_string(index) +
                  " lacks its parameters");
        const int pad = littleEndianInt(raw, 0);
        if (pad != 1 && pad != 2) invalid("Convolution2DTransposeBias has an unknown padding");
        desc.window.padding = pad == 1 ? Padding::kSame : Padding::kValid;
        desc.window.strideW = littleEndianInt(raw, 1);
        desc.window.strideH = littleEndianInt(raw, 2);
        break;
      }
      default:
        invalid("it uses builtin operator " + std::to_string(builtin) +
                ", which this engine does not provide (it runs CONV_2D, DEPTHWISE_CONV_2D, ADD, "
                "MUL, HARD_SWISH, RELU, LOGISTIC, AVERAGE_POOL_2D, MEAN, RESIZE_BILINEAR, "
                "DEQUANTIZE and Convolution2DTransposeBias)");
    }
    g.ops.push_back(std::move(desc));
  }
  return g;
}

Graph readTfliteModel(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file)
    throw Error("Segmentation", 1,
                "The segmentation model " + path +
                    " cannot be read. Run scripts/setup to install it, or point "
                    "TAVOLU_SEGMENT_MODEL_DIR at the folder that holds it.");
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                             std::istreambuf_iterator<char>());
  return parseTfliteModel(bytes);
}

}  // namespace tavolu::segment
