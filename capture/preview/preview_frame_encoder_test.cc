#include "capture/preview/preview_frame_encoder.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include "capture/preview/event_capture_for_test.h"
#include "capture/preview/preview_test_doubles.h"

namespace tavolu {
namespace {

struct Decoded {
  int width = 0, height = 0;
  std::vector<uint8_t> bgra;
};

Decoded decodeJpeg(const std::vector<uint8_t>& jpeg) {
  Decoded d;
  tjhandle h = tjInitDecompress();
  int sub = 0, cs = 0;
  if (tjDecompressHeader3(h, jpeg.data(), jpeg.size(), &d.width, &d.height, &sub, &cs) == 0) {
    d.bgra.resize(static_cast<size_t>(d.width) * d.height * 4);
    if (tjDecompress2(h, jpeg.data(), jpeg.size(), d.bgra.data(), d.width, 0, d.height, TJPF_BGRA,
                      0) != 0)
      d.bgra.clear();
  }
  tjDestroy(h);
  return d;
}

std::shared_ptr<PixelBuffer> solid(int w, int h, uint8_t b, uint8_t g, uint8_t r) {
  auto p = PixelBuffer::make(w, h);
  for (size_t i = 0; i < p->bytes.size(); i += 4) {
    p->bytes[i] = b;
    p->bytes[i + 1] = g;
    p->bytes[i + 2] = r;
    p->bytes[i + 3] = 255;
  }
  return p;
}

TEST(PreviewFrameEncoder, ShorterSideIsCappedNeverEnlargedAspectKept) {
  struct Case {
    int w, h, cap, ow, oh;
  } cases[] = {
      {1920, 1080, 540, 960, 540},  {1080, 1920, 540, 540, 960}, {640, 480, 540, 640, 480},
      {1920, 1080, 720, 1280, 720}, {640, 480, 720, 640, 480},   {1280, 720, 720, 1280, 720},
      {1921, 1081, 540, 960, 540},  {4000, 3, 540, 4000, 3},
  };
  JpegPreviewRenderer renderer;
  for (const auto& c : cases) {
    PreviewSize size = previewSize(c.w, c.h, c.cap);
    EXPECT_EQ(size.width, c.ow) << c.w << "x" << c.h << " cap " << c.cap;
    EXPECT_EQ(size.height, c.oh) << c.w << "x" << c.h << " cap " << c.cap;
    Decoded jpeg = decodeJpeg(renderer.renderJpeg(*solid(c.w, c.h, 0, 0, 0), c.cap, 0.82));
    EXPECT_EQ(jpeg.width, c.ow) << c.w << "x" << c.h;
    EXPECT_EQ(jpeg.height, c.oh) << c.w << "x" << c.h;
  }
}

TEST(PreviewFrameEncoder, ColoursSurviveScalingAndCompression) {
  JpegPreviewRenderer renderer;
  // Left half red, right half blue: channels must not be swapped and the edge stays put.
  auto frame = PixelBuffer::make(1920, 1080);
  for (int y = 0; y < 1080; ++y)
    for (int x = 0; x < 1920; ++x) {
      uint8_t* p = frame->row(y) + x * 4;
      bool left = x < 960;
      p[0] = left ? 20 : 220;
      p[1] = 30;
      p[2] = left ? 220 : 20;
      p[3] = 255;
    }
  Decoded d = decodeJpeg(renderer.renderJpeg(*frame, 540, 0.82));
  ASSERT_EQ(d.width, 960);
  ASSERT_FALSE(d.bgra.empty());
  const uint8_t* left = &d.bgra[(270 * 960 + 200) * 4];
  const uint8_t* right = &d.bgra[(270 * 960 + 700) * 4];
  EXPECT_NEAR(left[2], 220, 8);
  EXPECT_NEAR(left[0], 20, 8);
  EXPECT_NEAR(right[0], 220, 8);
  EXPECT_NEAR(right[2], 20, 8);
  EXPECT_NEAR(left[1], 30, 8);
}

TEST(PreviewFrameEncoder, HigherQualityGivesLargerFilesAndBadFramesGiveNone) {
  JpegPreviewRenderer renderer;
  auto frame = PixelBuffer::make(640, 480);
  for (size_t i = 0; i < frame->bytes.size(); ++i)
    frame->bytes[i] = static_cast<uint8_t>(i * 7919 % 251);
  EXPECT_LT(renderer.renderJpeg(*frame, 540, 0.3).size(),
            renderer.renderJpeg(*frame, 540, 0.95).size());

  PixelBuffer narrowStride = *frame;
  narrowStride.stride = 100;
  PixelBuffer empty;
  PixelBuffer shortBytes = *frame;
  shortBytes.bytes.resize(10);
  for (const PixelBuffer* bad : {&narrowStride, &empty, &shortBytes})
    EXPECT_TRUE(renderer.renderJpeg(*bad, 540, 0.8).empty());
}

TEST(PreviewFrameEncoder, Base64IsStandardWithPadding) {
  struct Case {
    std::string in, out;
  } cases[] = {{"", ""},        {"f", "Zg=="},        {"fo", "Zm8="},
               {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"\xfb\xff\xbf", "+/+/"}};
  for (const auto& c : cases)
    EXPECT_EQ(base64Encode(std::vector<uint8_t>(c.in.begin(), c.in.end())), c.out) << c.in;
  std::vector<uint8_t> big(3000, 0xab);
  EXPECT_EQ(base64Encode(big).find('\n'), std::string::npos);
}

TEST(PreviewFrameEncoder, EmitsOneEventAndAlwaysReleasesTheGate) {
  test::EventCapture events;
  test::ScriptedRenderer renderer;
  PreviewGate gate(1);
  auto frame = PixelBuffer::make(8, 8);

  ASSERT_TRUE(gate.try_acquire());
  encodePreviewFrame(frame, renderer, gate, 720, 0.8, "frame");
  ASSERT_TRUE(gate.try_acquire());  // released
  EXPECT_EQ(renderer.lastCap, 720);
  EXPECT_DOUBLE_EQ(renderer.lastQuality, 0.8);

  renderer.output.clear();  // no JPEG data
  encodePreviewFrame(frame, renderer, gate, 540, 0.82, "camera-preview");
  ASSERT_TRUE(gate.try_acquire());

  renderer.throws = true;
  encodePreviewFrame(frame, renderer, gate, 540, 0.82, "camera-preview");
  ASSERT_TRUE(gate.try_acquire());

  encodePreviewFrame(nullptr, renderer, gate, 540, 0.82, "camera-preview");
  EXPECT_TRUE(gate.try_acquire());

  auto lines = events.events();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], (Json{{"event", "frame"}, {"jpeg", "AQID"}}));
}

}  // namespace
}  // namespace tavolu
