#include "capture/sinks/video_sink.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>

#include "capture/sinks/full_disk_child.h"
#include "capture/sinks/media_probe.h"
#include "tests/support/child_process.h"

namespace tavolu {
namespace {

using test::ffprobeDuration;
using test::probeFile;
using test::TempDir;

const MediaTime kOrigin = MediaTime::fromNanos(100'000'000'000);

// The host-clock time `frames` frame intervals after the origin.
MediaTime at(double frames, int fps) {
  return kOrigin + MediaTime::fromNanos(std::llround(frames * 1e9 / fps));
}

// A picture whose content moves with `n`, so the encoder sees motion.
PixelBufferRef picture(int width, int height, int n) {
  auto p = PixelBuffer::make(width, height);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = p->row(y);
    for (int x = 0; x < width; ++x) {
      row[4 * x + 0] = static_cast<uint8_t>(x + 3 * n);
      row[4 * x + 1] = static_cast<uint8_t>(y + n);
      row[4 * x + 2] = static_cast<uint8_t>((x ^ y) + 5 * n);
      row[4 * x + 3] = 255;
    }
  }
  return p;
}

TEST(VideoBitRate, ScalesWithPixelsPerSecondBetweenFloorAndCeiling) {
  struct Case {
    int width, height, fps;
    int64_t bitRate;
  } cases[] = {
      {1920, 1080, 30, 14'929'920},  {3840, 2160, 60, 119'439'360},
      {1280, 720, 30, 12'000'000},    // floor
      {5120, 2880, 60, 120'000'000},  // ceiling
      {2, 2, 1, 12'000'000},
  };
  for (const auto& c : cases)
    EXPECT_EQ(h264BitRate(c.width, c.height, c.fps), c.bitRate)
        << c.width << "x" << c.height << "@" << c.fps;
}

// The settings the file carries: codec, profile, size, bit rate, key-frame interval, no
// B-frames, one packet per accepted frame, a timeline from the origin to the end.
TEST(VideoSink, WritesHighProfileH264WithTheFixedSettings) {
  struct Case {
    int width, height, fps;
    int frames;
  } cases[] = {
      {320, 240, 30, 130},  // three key-frame intervals of 60
      {320, 180, 60, 130},  // two key-frame intervals of 120
      {1280, 720, 25, 10},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + "@" +
                 std::to_string(c.fps));
    std::string path = dir.file("settings.mp4");
    VideoSink sink(path, c.width, c.height, c.fps, kOrigin, c.frames);
    for (int n = 0; n < c.frames; ++n) sink.append(picture(c.width, c.height, n), at(n, c.fps));
    sink.finish(at(c.frames, c.fps), c.fps);
    EXPECT_EQ(sink.frames(), c.frames);
    EXPECT_EQ(sink.dropped(), 0);

    auto track = probeFile(path, true);
    EXPECT_EQ(track.codec, "h264");
    EXPECT_EQ(track.profile, 100);  // High
    EXPECT_EQ(track.width, c.width);
    EXPECT_EQ(track.height, c.height);
    EXPECT_EQ(track.videoDelay, 0);
    // Tagged as what the BGRA conversion produces (BT.601, limited range), so players do not
    // decode HD sizes with the BT.709 matrix they would otherwise assume.
    EXPECT_EQ(track.colorSpace, AVCOL_SPC_SMPTE170M);
    EXPECT_EQ(track.colorRange, AVCOL_RANGE_MPEG);
    int64_t kbps = h264BitRate(c.width, c.height, c.fps) / 1000;
    EXPECT_NE(track.encoderSettings.find(" bitrate=" + std::to_string(kbps) + " "),
              std::string::npos)
        << track.encoderSettings;
    EXPECT_NE(track.encoderSettings.find(" keyint=" + std::to_string(2 * c.fps) + " "),
              std::string::npos);
    EXPECT_NE(track.encoderSettings.find(" bframes=0 "), std::string::npos);

    ASSERT_EQ(track.packets.size(), static_cast<size_t>(c.frames));
    EXPECT_EQ(track.pictureTypes.size(), static_cast<size_t>(c.frames));
    for (char type : track.pictureTypes) EXPECT_NE(type, 'B');
    int sinceKey = 0;
    for (const auto& p : track.packets) {
      sinceKey = p.key ? 0 : sinceKey + 1;
      EXPECT_LT(sinceKey, 2 * c.fps);
    }
    EXPECT_TRUE(track.packets.front().key);
    EXPECT_EQ(track.startSeconds, 0.0);
    double frameTicks = 1.0 / c.fps / av_q2d(track.timeBase);
    EXPECT_EQ(track.packets.back().pts, std::llround((c.frames - 1) * frameTicks));
    EXPECT_NEAR(track.durationSeconds, static_cast<double>(c.frames) / c.fps, 1e-6);
    if (&c == &cases[0]) {
      EXPECT_NEAR(ffprobeDuration(path), 130.0 / 30, 1e-6);
    }
  }
}

// Presentation times: strictly increasing (others ignored, counted nowhere), and the last
// picture repeated one frame before the end when it is older.
TEST(VideoSink, KeepsTimesIncreasingAndEndsExactlyAtTheEnd) {
  struct Case {
    const char* name;
    std::vector<double> times;  // in frames after the origin
    double end;
    std::vector<double> written;  // presentation times in the file, in frames
  } cases[] = {
      {"duplicate time ignored", {0, 1, 1, 2}, 3, {0, 1, 2}},
      {"earlier time ignored", {0, 2, 1, 3}, 4, {0, 2, 3}},
      {"before the origin ignored", {-1, 0, 1}, 2, {0, 1}},
      {"still picture repeated before the end", {0, 1}, 10, {0, 1, 9}},
      {"end one frame after the last", {0, 1, 2}, 3, {0, 1, 2}},
      {"end less than a frame after the last", {0, 1, 2.5}, 3, {0, 1, 2.5}},
      {"stopped 0.95 s after the origin",
       {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15},
       29,
       {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 28}},
  };
  const int fps = 30;
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = dir.file("times.mp4");
    VideoSink sink(path, 64, 48, fps, kOrigin, 64);
    int n = 0;
    for (double t : c.times) sink.append(picture(64, 48, n++), at(t, fps));
    sink.finish(at(c.end, fps), fps);
    EXPECT_EQ(sink.frames(), static_cast<int64_t>(c.written.size()));
    EXPECT_EQ(sink.dropped(), 0);

    auto track = probeFile(path);
    ASSERT_EQ(track.packets.size(), c.written.size());
    double frameTicks = 1.0 / fps / av_q2d(track.timeBase);
    for (size_t i = 0; i < c.written.size(); ++i)
      EXPECT_EQ(track.packets[i].pts, std::llround(c.written[i] * frameTicks)) << i;
    EXPECT_NEAR(track.durationSeconds, c.end / fps, 1e-6);
  }
}

TEST(VideoSink, CountsDroppedFramesWhenTheEncoderQueueIsFull) {
  TempDir dir;
  std::string path = dir.file("busy.mp4");
  VideoSink sink(path, 64, 48, 30, kOrigin, 2);
  sink.holdEncoderForTesting();
  for (int n = 0; n < 5; ++n) sink.append(picture(64, 48, n), at(n, 30));
  EXPECT_EQ(sink.frames(), 2);
  EXPECT_EQ(sink.dropped(), 3);
  sink.releaseEncoderForTesting();
  sink.waitEncodedForTesting();
  // A dropped frame does not move the last accepted time: frame 2's time is still free.
  sink.append(picture(64, 48, 2), at(2, 30));
  sink.finish(at(3, 30), 30);
  EXPECT_EQ(sink.frames(), 3);
  EXPECT_EQ(sink.dropped(), 3);
  EXPECT_EQ(probeFile(path).packets.size(), 3u);
}

TEST(VideoSink, ScalesPicturesOfAnotherSizeAndIgnoresMalformedOnes) {
  TempDir dir;
  std::string path = dir.file("sizes.mp4");
  VideoSink sink(path, 160, 90, 30, kOrigin);
  sink.append(picture(160, 90, 0), at(0, 30));
  sink.append(picture(320, 200, 1), at(1, 30));  // scaled to 160x90
  auto torn = std::make_shared<PixelBuffer>(*picture(160, 90, 2));
  torn->bytes.resize(100);  // fewer bytes than its size says
  sink.append(torn, at(2, 30));
  sink.append(nullptr, at(3, 30));
  sink.finish(at(2, 30), 30);
  EXPECT_EQ(sink.frames(), 2);
  auto track = probeFile(path);
  EXPECT_EQ(track.width, 160);
  EXPECT_EQ(track.height, 90);
  EXPECT_EQ(track.packets.size(), 2u);
}

TEST(VideoSink, OddSizesAreEncodedRoundedDownToEven) {
  TempDir dir;
  std::string path = dir.file("odd.mp4");
  VideoSink sink(path, 161, 91, 30, kOrigin);
  sink.append(picture(161, 91, 0), at(0, 30));
  sink.finish(at(1, 30), 30);
  auto track = probeFile(path);
  EXPECT_EQ(track.width, 160);
  EXPECT_EQ(track.height, 90);
}

TEST(VideoSink, ReportsFilesThatCannotBeCreatedOrStarted) {
  TempDir dir;
  struct Case {
    const char* name;
    std::string path;
    int width;
    std::string message;
  } cases[] = {
      {"missing folder", dir.file("missing/rec.mp4"), 64,
       "Could not create " + dir.file("missing/rec.mp4") + ": No such file or directory"},
      {"no size", dir.file("empty.mp4"), 0,
       "Invalid video size 0x48 at 30 fps for " + dir.file("empty.mp4") + ": Invalid argument"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      VideoSink sink(c.path, c.width, 48, 30, kOrigin);
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      EXPECT_EQ(e.domain(), "FFmpeg");
      EXPECT_EQ(e.localizedDescription(), c.message);
    }
  }
  EXPECT_NE(access(dir.file("empty.mp4").c_str(), F_OK), 0) << "a failed start leaves no file";
}

// A disk that fills up during the recording: finish reports the write error.
TEST(VideoSink, FinishReportsAFileThatCouldNotBeWritten) {
  TempDir dir;
  std::string path = dir.file("full.mp4");
  std::string outcome = test::runWithFileSizeLimit(8000, [&]() -> std::string {
    try {
      VideoSink sink(path, 160, 120, 30, kOrigin, 200);
      for (int n = 0; n < 150; ++n) sink.append(picture(160, 120, n), at(n, 30));
      sink.finish(at(150, 30), 30);
      return "no error";
    } catch (const Error& e) {
      return e.domain() + " " + e.localizedDescription();
    }
  });
  EXPECT_EQ(outcome.rfind("FFmpeg Could not write to " + path + ": File too large", 0), 0u)
      << outcome;
}

TEST(VideoSink, FinishWithoutFramesReportsTheWriterDidNotFinish) {
  TempDir dir;
  VideoSink sink(dir.file("none.mp4"), 64, 48, 30, kOrigin);
  try {
    sink.finish(at(30, 30), 30);
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.domain(), "Capture");
    EXPECT_EQ(e.code(), 12);
    EXPECT_EQ(e.localizedDescription(), "Video writer did not finish.");
  }
}

// A recording killed mid-way leaves a file that opens, holding every finished fragment.
TEST(VideoSink, FileOfAKilledRecordingStillOpens) {
  TempDir dir;
  std::string path = dir.file("killed.mp4");
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(ready[0]);
    VideoSink sink(path, 160, 120, 30, kOrigin, 300);
    for (int n = 0; n < 150; ++n) sink.append(picture(160, 120, n), at(n, 30));
    sink.waitEncodedForTesting();
    (void)!write(ready[1], "k", 1);
    pause();
    _exit(0);
  }
  close(ready[1]);
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  close(ready[0]);
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));

  auto track = probeFile(path, true);
  EXPECT_EQ(track.codec, "h264");
  // Fragments start at the key frames 0 and 60 (and 120 once its successor arrived).
  EXPECT_GE(track.packets.size(), 60u);
  EXPECT_LE(track.packets.size(), 150u);
  EXPECT_EQ(track.pictureTypes.size(), track.packets.size());
  EXPECT_EQ(track.packets.front().pts, 0);
  EXPECT_GT(ffprobeDuration(path), 1.9);
}

}  // namespace
}  // namespace tavolu
