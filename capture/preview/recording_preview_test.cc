#include "capture/preview/recording_preview.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include "capture/preview/event_capture_for_test.h"
#include "capture/preview/preview_test_doubles.h"

namespace tavolu {
namespace {

// A host-clock start far from zero, where floating-point seconds would lose the last digits.
constexpr int64_t kT = 987'654'321'000'000;  // ns

class RecordingPreviewTest : public ::testing::Test {
 protected:
  RecordingPreviewTest() {
    auto r = std::make_unique<test::ScriptedRenderer>();
    renderer = r.get();
    preview = std::make_unique<RecordingPreview>(std::move(r));
  }
  // Offers a frame and waits for its encode job (if any), so the gate is free again.
  void offer(MediaTime time) {
    preview->offerCameraPreview(frame, time);
    preview->drainForTesting();
  }

  test::EventCapture events;
  test::ScriptedRenderer* renderer;
  std::unique_ptr<RecordingPreview> preview;
  PixelBufferRef frame = PixelBuffer::make(16, 9);
};

TEST_F(RecordingPreviewTest, ThrottleAdmitsFramesAtLeastOneTwentyFourthApart) {
  struct Case {
    int fps;
    int frames;
    std::vector<int> admitted;
  } cases[] = {
      {30, 9, {0, 2, 4, 6, 8}},  // 1/30 s after an admitted frame is too soon
      {60, 9, {0, 3, 6}},        // every third frame: 3/60 s >= 1/24 s
      {24, 4, {0, 1, 2, 3}},     // exactly 1/24 s apart: the threshold is inclusive
      {12, 3, {0, 1, 2}},
  };
  int64_t second = kT / 1'000'000'000;
  for (const auto& c : cases) {
    ++second;  // a second after the previous case
    int before = renderer->calls();
    std::vector<int> admitted;
    for (int i = 0; i < c.frames; ++i) {
      // Frame times on the camera's own timescale, as an exact rational.
      MediaTime time = MediaTime::make(second * c.fps + i, c.fps);
      int calls = renderer->calls();
      offer(time);
      if (renderer->calls() > calls) admitted.push_back(i);
    }
    EXPECT_EQ(admitted, c.admitted) << c.fps << " fps";
    EXPECT_EQ(renderer->calls() - before, static_cast<int>(c.admitted.size()));
  }
}

TEST_F(RecordingPreviewTest, ExactlyOneTwentyFourthAfterALargeHostTimePasses) {
  MediaTime t0 = MediaTime::make(kT / 1000 * 24 / 1'000'000, 24);  // on a 1/24 grid
  offer(t0);
  offer(t0 + MediaTime::make(1, 24));
  EXPECT_EQ(renderer->calls(), 2);
}

TEST_F(RecordingPreviewTest, BackwardsAndInvalidTimesGetNoPreview) {
  offer(MediaTime::fromNanos(kT));
  offer(MediaTime::fromNanos(kT - 500'000'000));
  offer(MediaTime::invalid());
  EXPECT_EQ(renderer->calls(), 1);
  offer(MediaTime::fromNanos(kT + 41'666'667));  // just over 1/24 s after the admitted frame
  EXPECT_EQ(renderer->calls(), 2);
}

TEST_F(RecordingPreviewTest, BusyGateDropsWithoutMovingTheThrottle) {
  renderer->hold();
  preview->offerCameraPreview(frame, MediaTime::fromNanos(kT));
  renderer->waitForCalls(1);  // encoding, gate taken
  // Passes the throttle, finds the gate busy: dropped, and the offer returns at once.
  preview->offerCameraPreview(frame, MediaTime::fromNanos(kT + 50'000'000));
  renderer->release();
  preview->drainForTesting();
  EXPECT_EQ(renderer->calls(), 1);
  // 60 ms after the last admitted frame (10 ms after the dropped one): admitted.
  offer(MediaTime::fromNanos(kT + 60'000'000));
  EXPECT_EQ(renderer->calls(), 2);
  EXPECT_EQ(events.events().size(), 2u);
}

TEST_F(RecordingPreviewTest, NoJpegMeansNoEventButLaterFramesStillFlow) {
  renderer->output.clear();
  offer(MediaTime::fromNanos(kT));
  EXPECT_TRUE(events.events().empty());
  renderer->output = {1, 2, 3};
  offer(MediaTime::fromNanos(kT + 100'000'000));
  auto lines = events.events();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], (Json{{"event", "camera-preview"}, {"jpeg", "AQID"}}));
  EXPECT_EQ(renderer->lastCap, 540);
  EXPECT_DOUBLE_EQ(renderer->lastQuality, 0.82);
}

TEST(RecordingPreview, AFullHdFrameBecomesA960x540Jpeg) {
  test::EventCapture events;
  RecordingPreview preview;
  preview.offerCameraPreview(PixelBuffer::make(1920, 1080), MediaTime::fromNanos(kT));
  preview.drainForTesting();
  auto lines = events.events();
  ASSERT_EQ(lines.size(), 1u);
  ASSERT_EQ(lines[0]["event"], "camera-preview");
  std::string b64 = lines[0]["jpeg"];
  // Decode the base64 with TurboJPEG's view of the header.
  static const std::string alphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::vector<uint8_t> jpeg;
  int bits = 0, value = 0;
  for (char c : b64) {
    if (c == '=') break;
    value = ((value << 6) | static_cast<int>(alphabet.find(c))) & 0xffffff;
    if ((bits += 6) >= 8) jpeg.push_back(static_cast<uint8_t>(value >> (bits -= 8)));
  }
  tjhandle h = tjInitDecompress();
  int w = 0, hgt = 0, sub = 0, cs = 0;
  ASSERT_EQ(tjDecompressHeader3(h, jpeg.data(), jpeg.size(), &w, &hgt, &sub, &cs), 0);
  tjDestroy(h);
  EXPECT_EQ(w, 960);
  EXPECT_EQ(hgt, 540);
}

}  // namespace
}  // namespace tavolu
