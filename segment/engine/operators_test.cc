// Each kernel against small cases worked out by hand.
#include "segment/engine/operators.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numeric>

namespace tavolu::segment {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::FloatNear;
using ::testing::Pointwise;

std::vector<float> iota(int n, float from = 1) {
  std::vector<float> v(n);
  std::iota(v.begin(), v.end(), from);
  return v;
}

class OperatorsTest : public ::testing::Test {
 protected:
  WorkerPool pool_{2};
};

TEST_F(OperatorsTest, WindowSizesAndPadding) {
  EXPECT_EQ(windowOutputSize(Padding::kSame, 256, 3, 2, 1), 128);
  EXPECT_EQ(windowOutputSize(Padding::kSame, 5, 3, 2, 1), 3);
  EXPECT_EQ(windowOutputSize(Padding::kValid, 5, 3, 2, 1), 2);
  EXPECT_EQ(windowOutputSize(Padding::kValid, 64, 64, 64, 1), 1);
  EXPECT_EQ(windowOutputSize(Padding::kValid, 5, 3, 1, 2), 1);           // dilated filter spans 5
  EXPECT_EQ(windowPaddingBefore(Padding::kSame, 256, 3, 2, 1, 128), 0);  // total 1: after only
  EXPECT_EQ(windowPaddingBefore(Padding::kSame, 5, 3, 1, 1, 5), 1);
  EXPECT_EQ(windowPaddingBefore(Padding::kSame, 5, 5, 1, 1, 5), 2);
  EXPECT_EQ(windowPaddingBefore(Padding::kValid, 5, 3, 1, 1, 3), 0);
}

TEST_F(OperatorsTest, Conv3x3SamePadsWithZeros) {
  // Input 1..9 in a 3x3 single-channel picture, a filter of ones: each output sums its
  // neighbourhood inside the picture.
  auto in = iota(9);
  std::vector<float> ones(9, 1.0f), bias{0.5f};
  auto filter = prepareConvFilter(ones, 1, 3, 3, 1, bias);
  std::vector<float> out(9);
  conv2d(in.data(), {3, 3, 1}, filter, {Padding::kSame}, out.data(), {3, 3, 1}, pool_);
  EXPECT_THAT(out, ElementsAre(12.5, 21.5, 16.5, 27.5, 45.5, 33.5, 24.5, 39.5, 28.5));
}

TEST_F(OperatorsTest, ConvStrideTwoAndSeveralChannels) {
  // 4x4x2 input (value = 10 * pixel index + channel), 3x3 filter, two outputs: output 0 picks
  // channel 0 of the window's centre, output 1 sums channel 1 of the window's top-left pixel
  // times 2. SAME with stride 2 pads only after, so window (oy, ox) starts at (2 oy, 2 ox).
  std::vector<float> in(32);
  for (int p = 0; p < 16; ++p) in[2 * p] = 10.0f * p, in[2 * p + 1] = 10.0f * p + 1;
  std::vector<float> w(2 * 3 * 3 * 2, 0.0f);  // OHWI
  w[0 * 18 + (1 * 3 + 1) * 2 + 0] = 1.0f;
  w[1 * 18 + (0 * 3 + 0) * 2 + 1] = 2.0f;
  auto filter = prepareConvFilter(w, 2, 3, 3, 2, {});
  std::vector<float> out(2 * 2 * 2);
  conv2d(in.data(), {4, 4, 2}, filter, {Padding::kSame, 2, 2}, out.data(), {2, 2, 2}, pool_);
  // Centres: pixels (1,1)=5, (1,3)=7, (3,1)=13, (3,3)=15. Corners: 0, 2, 8, 10.
  EXPECT_THAT(out, ElementsAre(50, 2, 70, 42, 130, 162, 150, 202));
}

TEST_F(OperatorsTest, PointwiseConvIsAMatrixProductWithFusedActivation) {
  std::vector<float> in{1, 2, -3, 4};  // two pixels of two channels
  std::vector<float> w{1, 0, 2, 3};    // out0 = in0, out1 = 2 in0 + 3 in1
  std::vector<float> bias{0.5f, -1};
  auto filter = prepareConvFilter(w, 2, 1, 1, 2, bias);
  std::vector<float> out(4);
  WindowParams p;
  p.activation = Activation::kRelu6;
  conv2d(in.data(), {1, 2, 2}, filter, p, out.data(), {1, 2, 2}, pool_);
  // Pixel 0: 1.5, 2+6-1=7 -> 6. Pixel 1: -2.5 -> 0, -6+12-1=5.
  EXPECT_THAT(out, ElementsAre(1.5, 6, 0, 5));
}

TEST_F(OperatorsTest, PointwiseConvSplitAcrossThreadsMatchesOneThread) {
  const int pixels = 64 * 64, ic = 16, oc = 24;
  std::vector<float> in(pixels * ic), w(oc * ic), out1(pixels * oc), out2(pixels * oc);
  for (size_t i = 0; i < in.size(); ++i) in[i] = std::sin(0.37f * i);
  for (size_t i = 0; i < w.size(); ++i) w[i] = std::cos(0.11f * i);
  auto filter = prepareConvFilter(w, oc, 1, 1, ic, {});
  WorkerPool single(1);
  conv2d(in.data(), {64, 64, ic}, filter, {}, out1.data(), {64, 64, oc}, single);
  conv2d(in.data(), {64, 64, ic}, filter, {}, out2.data(), {64, 64, oc}, pool_);
  EXPECT_THAT(out2, Pointwise(FloatNear(1e-5), out1));
}

TEST_F(OperatorsTest, DepthwiseKeepsChannelsApart) {
  // 3x3 picture, 2 channels: channel 0 = 1..9, channel 1 = 10 everywhere. Filter: channel 0
  // all ones, channel 1 only the centre tap times 3. Bias 1, 2.
  std::vector<float> in(18);
  for (int p = 0; p < 9; ++p) in[2 * p] = p + 1, in[2 * p + 1] = 10;
  std::vector<float> w(3 * 3 * 2, 0.0f);
  for (int k = 0; k < 9; ++k) w[2 * k] = 1;
  w[2 * 4 + 1] = 3;
  std::vector<float> bias{1, 2}, out(18);
  depthwiseConv2d(in.data(), {3, 3, 2}, w.data(), 3, 3, bias.data(), 1, {Padding::kSame},
                  out.data(), {3, 3, 2}, pool_);
  std::vector<float> ch0, ch1;
  for (int p = 0; p < 9; ++p) ch0.push_back(out[2 * p]), ch1.push_back(out[2 * p + 1]);
  EXPECT_THAT(ch0, ElementsAre(13, 22, 17, 28, 46, 34, 25, 40, 29));
  EXPECT_THAT(ch1, ElementsAre(32, 32, 32, 32, 32, 32, 32, 32, 32));
}

TEST_F(OperatorsTest, DepthwiseStrideTwoValid) {
  auto in = iota(16);  // 4x4x1
  std::vector<float> w(4, 1.0f), out(4);
  depthwiseConv2d(in.data(), {4, 4, 1}, w.data(), 2, 2, nullptr, 1, {Padding::kValid, 2, 2},
                  out.data(), {2, 2, 1}, pool_);
  EXPECT_THAT(out, ElementsAre(1 + 2 + 5 + 6, 3 + 4 + 7 + 8, 9 + 10 + 13 + 14, 11 + 12 + 15 + 16));
}

TEST_F(OperatorsTest, TransposeConvSpreadsEachInputOverItsBlock) {
  // 2x2 input, 2 channels; 2x2 filter with stride 2 doubles the size; one output channel.
  std::vector<float> in{1, 0, 2, 0, 3, 0, 4, 1};       // pixel values in channel 0, and 1
  std::vector<float> w{1, 0, 10, 0, 100, 0, 1000, 5};  // OHWI: taps 1, 10, 100, 1000 on ch 0
  std::vector<float> bias{0.5f}, out(16);
  transposeConv2dBias(in.data(), {2, 2, 2}, w.data(), 2, 2, bias.data(), Padding::kSame, 2, 2,
                      out.data(), {4, 4, 1});
  EXPECT_THAT(out, ElementsAre(1.5, 10.5, 2.5, 20.5,          //
                               100.5, 1000.5, 200.5, 2000.5,  //
                               3.5, 30.5, 4.5, 40.5,          //
                               300.5, 3000.5, 400.5, 4005.5));
}

TEST_F(OperatorsTest, TransposeConvSamePaddingOffsetsLikeTheForwardConv) {
  // 3x3 kernel, stride 2, 2x2 -> 4x4: the forward conv 4 -> 2 pads 1 in total, 0 before.
  std::vector<float> in{1, 2, 3, 4}, w(9, 0.0f), out(16);
  w[0] = 1;  // only the top-left tap: input (iy, ix) lands on (2 iy, 2 ix)
  transposeConv2dBias(in.data(), {2, 2, 1}, w.data(), 3, 3, nullptr, Padding::kSame, 2, 2,
                      out.data(), {4, 4, 1});
  EXPECT_THAT(out, ElementsAre(1, 0, 2, 0, 0, 0, 0, 0, 3, 0, 4, 0, 0, 0, 0, 0));
}

TEST_F(OperatorsTest, TransposeConvAddsOverlappingTaps) {
  // One row: inputs 1 and 2, a 1x3 filter of ones with stride 2 (VALID): the middle output
  // gets a tap from each input.
  std::vector<float> in{1, 2}, w{1, 1, 1}, out(5);
  transposeConv2dBias(in.data(), {1, 2, 1}, w.data(), 1, 3, nullptr, Padding::kValid, 1, 2,
                      out.data(), {1, 5, 1});
  EXPECT_THAT(out, ElementsAre(1, 1, 3, 2, 2));
}

TEST_F(OperatorsTest, AddAndMulBroadcast) {
  std::vector<float> a{1, 2, 3, 4, 5, 6};  // 1x2x3
  std::vector<float> perChannel{10, 20, 30};
  std::vector<float> out(6);
  add(a.data(), {1, 2, 3}, a.data(), {1, 2, 3}, out.data(), {1, 2, 3}, Activation::kNone, pool_);
  EXPECT_THAT(out, ElementsAre(2, 4, 6, 8, 10, 12));
  mul(a.data(), {1, 2, 3}, perChannel.data(), {1, 1, 3}, out.data(), {1, 2, 3}, Activation::kNone,
      pool_);
  EXPECT_THAT(out, ElementsAre(10, 40, 90, 40, 100, 180));
  std::vector<float> scalar{-3};
  add(scalar.data(), {1, 1, 1}, a.data(), {1, 2, 3}, out.data(), {1, 2, 3}, Activation::kRelu,
      pool_);
  EXPECT_THAT(out, ElementsAre(0, 0, 0, 1, 2, 3));
}

TEST_F(OperatorsTest, Activations) {
  std::vector<float> in{-4, -3, -1, 0, 1, 3, 4}, out(7);
  hardSwish(in.data(), out.data(), 7);
  EXPECT_THAT(out,
              Pointwise(FloatNear(1e-6), std::vector<float>{0, 0, -1.0f / 3, 0, 2.0f / 3, 3, 4}));
  relu(in.data(), out.data(), 7);
  EXPECT_THAT(out, ElementsAre(0, 0, 0, 0, 1, 3, 4));
  logistic(in.data(), out.data(), 7);
  EXPECT_FLOAT_EQ(out[3], 0.5f);
  EXPECT_NEAR(out[4], 0.7310586f, 1e-6);
  EXPECT_NEAR(out[0], 0.0179862f, 1e-6);
  std::vector<float> clamp{-2, -0.5, 0.5, 2, 7};
  applyActivation(Activation::kReluN1To1, clamp.data(), 5);
  EXPECT_THAT(clamp, ElementsAre(-1, -0.5, 0.5, 1, 1));
}

TEST_F(OperatorsTest, AveragePoolCountsOnlyPixelsInsideThePicture) {
  auto in = iota(9);  // 3x3x1
  std::vector<float> out(4);
  averagePool2d(in.data(), {3, 3, 1}, 2, 2, {Padding::kSame, 2, 2}, out.data(), {2, 2, 1});
  EXPECT_THAT(out, ElementsAre((1 + 2 + 4 + 5) / 4.0f, (3 + 6) / 2.0f, (7 + 8) / 2.0f, 9));
  std::vector<float> global(1);
  averagePool2d(in.data(), {3, 3, 1}, 3, 3, {Padding::kValid, 3, 3}, global.data(), {1, 1, 1});
  EXPECT_FLOAT_EQ(global[0], 5);
}

TEST_F(OperatorsTest, MeanOverSpatialAxes) {
  std::vector<float> in{1, 10, 2, 20, 3, 30, 4, 40};  // 2x2x2
  std::vector<float> out(2);
  meanSpatial(in.data(), {2, 2, 2}, true, true, out.data());
  EXPECT_THAT(out, ElementsAre(2.5, 25));
  std::vector<float> rows(4);
  meanSpatial(in.data(), {2, 2, 2}, false, true, rows.data());
  EXPECT_THAT(rows, ElementsAre(1.5, 15, 3.5, 35));
}

TEST_F(OperatorsTest, ResizeBilinearHalfPixelAndAlignCorners) {
  std::vector<float> in{0, 1, 2, 3};  // 2x2x1
  std::vector<float> out(16);
  resizeBilinear(in.data(), {2, 2, 1}, out.data(), {4, 4, 1}, false, true);
  // Sample positions -0.25, 0.25, 0.75, 1.25 along each axis, clamped at the edges.
  EXPECT_THAT(
      out, Pointwise(FloatNear(1e-6), std::vector<float>{0, 0.25, 0.75, 1, 0.5, 0.75, 1.25, 1.5,  //
                                                         1.5, 1.75, 2.25, 2.5, 2, 2.25, 2.75, 3}));
  std::vector<float> aligned(9);
  resizeBilinear(in.data(), {2, 2, 1}, aligned.data(), {3, 3, 1}, true, false);
  EXPECT_THAT(aligned, ElementsAre(0, 0.5, 1, 1, 1.5, 2, 2, 2.5, 3));
  std::vector<float> legacy(4);
  resizeBilinear(in.data(), {2, 2, 1}, legacy.data(), {1, 4, 1}, false, false);
  EXPECT_THAT(legacy, ElementsAre(0, 0.5, 1, 1));  // positions 0, 0.5, 1, 1.5 -> clamped
}

TEST_F(OperatorsTest, HalfToFloat) {
  EXPECT_EQ(halfToFloat(0x3C00), 1.0f);
  EXPECT_EQ(halfToFloat(0xC000), -2.0f);
  EXPECT_EQ(halfToFloat(0x0000), 0.0f);
  EXPECT_TRUE(std::signbit(halfToFloat(0x8000)));
  EXPECT_EQ(halfToFloat(0x7BFF), 65504.0f);
  EXPECT_EQ(halfToFloat(0x0001), std::ldexp(1.0f, -24));  // smallest subnormal
  EXPECT_EQ(halfToFloat(0x0200), std::ldexp(1.0f, -15));
  EXPECT_NEAR(halfToFloat(0x3555), 0.33325195f, 1e-8);
  EXPECT_EQ(halfToFloat(0x7C00), std::numeric_limits<float>::infinity());
  EXPECT_TRUE(std::isnan(halfToFloat(0x7E00)));
}

}  // namespace
}  // namespace tavolu::segment
