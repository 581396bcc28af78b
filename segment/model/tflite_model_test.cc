// Small models built in memory: the reader and interpreter run what they should and refuse
// what they cannot run with a message that says why.
#include "segment/model/tflite_model.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "platform/error.h"
#include "segment/engine/interpreter.h"
#include "tflite_subset_generated.h"

namespace tavolu::segment {
namespace {

namespace fb = tavolu::tflite;
using ::testing::HasSubstr;

struct TensorDef {
  std::vector<int> shape;
  fb::TensorType type = fb::TensorType_FLOAT32;
  std::vector<uint8_t> data = {};
};
struct OpDef {
  int builtin;
  std::vector<int> inputs, outputs;
  std::string custom = {};
  std::vector<uint8_t> customOptions = {};
};

template <typename T>
std::vector<uint8_t> bytesOf(const std::vector<T>& v) {
  std::vector<uint8_t> b(v.size() * sizeof(T));
  std::memcpy(b.data(), v.data(), b.size());
  return b;
}

// A one-subgraph model: tensors, operators (CONV_2D ones get 1x1 VALID options), input 0.
std::vector<uint8_t> buildModel(const std::vector<TensorDef>& tensors,
                                const std::vector<OpDef>& ops, std::vector<int> outputs) {
  flatbuffers::FlatBufferBuilder b;
  std::vector<flatbuffers::Offset<fb::Buffer>> buffers{fb::CreateBuffer(b)};
  std::vector<flatbuffers::Offset<fb::Tensor>> ts;
  for (const auto& t : tensors) {
    uint32_t buffer = 0;
    if (!t.data.empty()) {
      buffer = static_cast<uint32_t>(buffers.size());
      buffers.push_back(fb::CreateBufferDirect(b, &t.data));
    }
    ts.push_back(fb::CreateTensorDirect(b, &t.shape, t.type, buffer, "t"));
  }
  std::vector<flatbuffers::Offset<fb::OperatorCode>> codes;
  std::vector<flatbuffers::Offset<fb::Operator>> os;
  for (const auto& op : ops) {
    const uint32_t code = static_cast<uint32_t>(codes.size());
    codes.push_back(fb::CreateOperatorCodeDirect(b, static_cast<int8_t>(std::min(op.builtin, 127)),
                                                 op.custom.empty() ? nullptr : op.custom.c_str(), 1,
                                                 op.builtin));
    fb::BuiltinOptions type = fb::BuiltinOptions_NONE;
    flatbuffers::Offset<void> options;
    if (op.builtin == 3) {
      type = fb::BuiltinOptions_Conv2DOptions;
      options = fb::CreateConv2DOptions(b, fb::Padding_VALID, 1, 1).Union();
    }
    os.push_back(fb::CreateOperatorDirect(b, code, &op.inputs, &op.outputs, type, options,
                                          op.customOptions.empty() ? nullptr : &op.customOptions));
  }
  std::vector<int> inputs{0};
  auto sub = fb::CreateSubGraphDirect(b, &ts, &inputs, &outputs, &os, "main");
  std::vector<flatbuffers::Offset<fb::SubGraph>> subs{sub};
  auto model = fb::CreateModelDirect(b, 3, &codes, &subs, "test", &buffers);
  fb::FinishModelBuffer(b, model);
  return {b.GetBufferPointer(), b.GetBufferPointer() + b.GetSize()};
}

std::vector<uint8_t> halves(std::vector<uint16_t> v) { return bytesOf(v); }

// input 1x1x2x2 -> DEQUANTIZE(float16 weights) -> CONV_2D 1x1 -> LOGISTIC.
std::vector<uint8_t> tinyModel(int lastBuiltin = 14, std::string custom = "") {
  // Weights OHWI 2x1x1x2: out0 = in0 - in1 (1, -1); out1 = 2 in1 (0, 2). Bias 0, 0.5.
  std::vector<TensorDef> t{
      {{1, 1, 2, 2}},
      {{2, 1, 1, 2}, fb::TensorType_FLOAT16, halves({0x3C00, 0xBC00, 0x0000, 0x4000})},
      {{2, 1, 1, 2}},
      {{2}, fb::TensorType_FLOAT32, bytesOf(std::vector<float>{0, 0.5f})},
      {{1, 1, 2, 2}},
      {{1, 1, 2, 2}},
  };
  std::vector<OpDef> ops{{6, {1}, {2}}, {3, {0, 2, 3}, {4}}, {lastBuiltin, {4}, {5}, custom}};
  return buildModel(t, ops, {5});
}

std::string refusal(const std::vector<uint8_t>& bytes) {
  try {
    WorkerPool pool(1);
    Interpreter interpreter(parseTfliteModel(bytes), pool);
  } catch (const Error& e) {
    EXPECT_EQ(e.domain(), "Segmentation");
    return e.localizedDescription();
  }
  return "accepted";
}

TEST(TfliteModel, RunsATinyModelEndToEnd) {
  WorkerPool pool(1);
  Interpreter interpreter(parseTfliteModel(tinyModel()), pool);
  ASSERT_EQ(interpreter.inputShape(), (Shape3{1, 2, 2}));
  const float input[] = {1, 1, 0.5f, -0.25f};
  std::memcpy(interpreter.input(), input, sizeof input);
  interpreter.invoke();
  const float* out = interpreter.output();
  // Pixel 0: logistic(0) and logistic(2.5); pixel 1: logistic(0.75), logistic(0).
  EXPECT_NEAR(out[0], 0.5f, 1e-6);
  EXPECT_NEAR(out[1], 1 / (1 + std::exp(-2.5f)), 1e-6);
  EXPECT_NEAR(out[2], 1 / (1 + std::exp(-0.75f)), 1e-6);
  EXPECT_NEAR(out[3], 0.5f, 1e-6);
}

TEST(TfliteModel, ReadsTheCustomTransposeConvParameters) {
  std::vector<TensorDef> t{
      {{1, 1, 1, 1}},
      {{1, 2, 2, 1}, fb::TensorType_FLOAT32, bytesOf(std::vector<float>{1, 2, 3, 4})},
      {{1}, fb::TensorType_FLOAT32, bytesOf(std::vector<float>{0.5f})},
      {{1, 2, 2, 1}}};
  std::vector<uint8_t> params{1, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0};  // same, stride 2 x 2
  auto graph = parseTfliteModel(
      buildModel(t, {{32, {0, 1, 2}, {3}, "Convolution2DTransposeBias", params}}, {3}));
  ASSERT_EQ(graph.ops.size(), 1u);
  EXPECT_EQ(graph.ops[0].kind, OpKind::kTransposeConvBias);
  EXPECT_EQ(graph.ops[0].window.padding, Padding::kSame);
  EXPECT_EQ(graph.ops[0].window.strideW, 2);
  WorkerPool pool(1);
  Interpreter interpreter(std::move(graph), pool);
  interpreter.input()[0] = 10;
  interpreter.invoke();
  EXPECT_THAT(std::vector<float>(interpreter.output(), interpreter.output() + 4),
              ::testing::ElementsAre(10.5, 20.5, 30.5, 40.5));
}

TEST(TfliteModel, RefusesWhatTheEngineCannotRun) {
  EXPECT_THAT(refusal(tinyModel(17)), HasSubstr("builtin operator 17"));  // MAX_POOL_2D
  EXPECT_THAT(refusal(tinyModel(32, "MaxPoolingWithArgmax2D")),
              HasSubstr("custom operator \"MaxPoolingWithArgmax2D\""));
  std::vector<uint8_t> garbage(100, 7);
  EXPECT_THAT(refusal(garbage), HasSubstr("not a TensorFlow Lite model"));
  auto truncated = tinyModel();
  truncated.resize(truncated.size() / 2);
  EXPECT_THAT(refusal(truncated), HasSubstr("not a TensorFlow Lite model"));
  // A convolution whose weights do not match the input channels.
  std::vector<TensorDef> t{{{1, 1, 2, 3}},
                           {{2, 1, 1, 2}, fb::TensorType_FLOAT32, bytesOf(std::vector<float>(4))},
                           {{1, 1, 2, 2}}};
  EXPECT_THAT(refusal(buildModel(t, {{3, {0, 1}, {2}}}, {2})), HasSubstr("do not fit"));
  // Weights whose data is shorter than their shape.
  t[1].data.resize(8);
  EXPECT_THAT(refusal(buildModel(t, {{3, {0, 1}, {2}}}, {2})),
              HasSubstr("does not match its shape"));
  // An operator reading a tensor nobody makes.
  std::vector<TensorDef> u{{{1, 1, 1, 1}}, {{1, 1, 1, 1}}, {{1, 1, 1, 1}}};
  EXPECT_THAT(refusal(buildModel(u, {{19, {1}, {2}}}, {2})), HasSubstr("before it is made"));
  EXPECT_THAT(refusal(buildModel(u, {{19, {7}, {2}}}, {2})), HasSubstr("out of range"));
}

TEST(TfliteModel, MissingFileSaysHowToInstallIt) {
  try {
    readTfliteModel("/nonexistent/selfie_segmentation.tflite");
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(e.code(), 1);
    EXPECT_THAT(e.localizedDescription(), HasSubstr("scripts/setup"));
  }
}

}  // namespace
}  // namespace tavolu::segment
