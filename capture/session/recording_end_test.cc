#include "capture/session/recording_end.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "platform/error.h"

namespace tavolu {
namespace {

TEST(RecordingEnd, WholeFramesAfterTheOrigin) {
  struct Case {
    int64_t originNs, stopNs;
    int32_t fps;
    int64_t frames;
  };
  const Case cases[] = {
      {100'000'000'000, 105'010'000'000, 30, 151},  // 5.01 s: 150.3 -> 151
      {100'000'000'000, 100'010'000'000, 30, 1},    // 0.01 s: one frame
      {100'000'000'000, 100'000'000'000, 30, 1},    // stop at the origin
      {100'000'000'000, 99'000'000'000, 30, 1},     // clock read before the origin
      {0, 950'000'000, 30, 29},                     // 28.5 -> 29
      {0, 1'000'000'000, 60, 60},                   // exactly whole: no extra frame
      {7, 1'000'000'007, 24, 24},
  };
  for (const auto& c : cases) {
    auto r = recordingEnd(MediaTime::fromNanos(c.originNs), MediaTime::fromNanos(c.stopNs), c.fps);
    EXPECT_EQ(r.frameCount, c.frames) << c.stopNs;
    EXPECT_EQ(r.duration, MediaTime::make(c.frames, c.fps));
    EXPECT_NEAR((r.end - MediaTime::fromNanos(c.originNs)).seconds(), double(c.frames) / c.fps,
                1e-9);
  }
}

TEST(RecordingEnd, FinishedEventHasTheTwelveMembers) {
  RecordingSummary s;
  s.video = "/x/rec.mp4";
  s.duration = 151.0 / 30;
  s.frames = 140;
  Json e = finishedEvent(s);
  EXPECT_EQ(e.size(), 12u);
  EXPECT_EQ(e["event"], "finished");
  EXPECT_EQ(e["camera"], "");
  EXPECT_EQ(e["cameraOffset"], 0);
  EXPECT_EQ(e["timing"], "host-clock");
  EXPECT_EQ(e["cameraFrames"], 0);
}

TEST(WriteFileAtomically, ReplacesWholeOrReportsWhy) {
  std::string path = testing::TempDir() + "sidecar.json";
  writeFileAtomically(path, "{\"a\":1}");
  writeFileAtomically(path, "{\"b\":2}");
  std::stringstream s;
  s << std::ifstream(path).rdbuf();
  EXPECT_EQ(s.str(), "{\"b\":2}");
  try {
    writeFileAtomically("/nonexistent-dir/x.json", "{}");
    FAIL();
  } catch (const Error& e) {
    EXPECT_NE(e.localizedDescription().find("/nonexistent-dir/x.json"), std::string::npos);
  }
}

}  // namespace
}  // namespace tavolu
