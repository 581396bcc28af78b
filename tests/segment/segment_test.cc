// tavolu-segment as the host runs it: real files made by ffmpeg in, the matte read back with
// ffprobe and ffmpeg.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/child_process.h"

namespace tavolu::test {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;
using namespace std::chrono_literals;

struct Outcome {
  int status;
  std::string out, err;
};

Outcome run(std::vector<std::string> argv, std::map<std::string, std::string> env = {},
            milliseconds timeout = 240s) {
  ChildProcess child(std::move(argv), std::move(env));
  child.closeStdin();
  std::string out = child.readToEnd(timeout);
  auto status = child.wait(timeout);
  return {status.value_or(-1), out, child.stderrText()};
}

Outcome segment(const std::string& in, const std::string& out,
                std::map<std::string, std::string> env = {}) {
  return run({programPath("tavolu-segment"), in, out}, std::move(env));
}

// Makes a video with ffmpeg; `args` go between the inputs and the output file.
void ffmpeg(const std::vector<std::string>& args, const std::string& path) {
  std::vector<std::string> argv{"/usr/bin/ffmpeg", "-y", "-loglevel", "error"};
  argv.insert(argv.end(), args.begin(), args.end());
  argv.push_back(path);
  Outcome r = run(argv);
  ASSERT_EQ(r.status, 0) << r.err;
}

// A test-pattern clip of the given size, rate and length.
std::string pattern(const TempDir& dir, const std::string& name, int w, int h, double fps,
                    double seconds) {
  const std::string path = dir.file(name);
  std::ostringstream src;
  src << "testsrc2=size=" << w << "x" << h << ":rate=" << fps;
  ffmpeg({"-f", "lavfi", "-i", src.str(), "-t", std::to_string(seconds), "-pix_fmt", "yuv420p",
          "-c:v", "libx264", "-preset", "ultrafast"},
         path);
  return path;
}

std::string probe(const std::string& path, const std::string& entries,
                  const std::vector<std::string>& extra = {}) {
  std::vector<std::string> argv{"/usr/bin/ffprobe", "-v", "error"};
  argv.insert(argv.end(), extra.begin(), extra.end());
  for (auto s :
       {"-show_entries", entries.c_str(), "-of", "default=noprint_wrappers=1", path.c_str()})
    argv.push_back(s);
  return run(argv).out;
}

// One picture of the matte as 8-bit grey, width x height.
struct Grey {
  int w = 0, h = 0;
  std::string px;
  double mean(int x0, int y0, int x1, int y1) const {
    double sum = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) sum += static_cast<uint8_t>(px[static_cast<size_t>(y) * w + x]);
    return sum / ((x1 - x0) * (y1 - y0));
  }
};

Grey firstFrame(const std::string& path, int w, int h) {
  Outcome r = run({"/usr/bin/ffmpeg", "-loglevel", "error", "-i", path, "-frames:v", "1", "-f",
                   "rawvideo", "-pix_fmt", "gray", "-"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.size(), static_cast<size_t>(w) * h);
  return {w, h, r.out};
}

class SegmentTest : public ::testing::Test {
 protected:
  TempDir dir_;
};

TEST_F(SegmentTest, OutputSizeFollowsTheSourceShapeAndRotation) {
  struct Case {
    int w, h;
    bool rotated;
    const char* expected;
  } cases[] = {
      {1920, 1080, false, "width=1024\nheight=576\n"},
      {640, 480, false, "width=1024\nheight=768\n"},
      {1920, 1080, true, "width=1024\nheight=1820\n"},
      {1280, 722, false, "width=1024\nheight=576\n"},
      {2048, 2, false, "width=1024\nheight=2\n"},  // ratio 1/1024, below 2/1024
      {16, 512, false, ""},                        // 32768 high: no matte, Mask error 2
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + (c.rotated ? " rotated" : ""));
    std::string in = pattern(dir_, "in.mp4", c.w, c.h, 30, 0.1);
    if (c.w == 640) {
      // Any file libavformat opens: here Motion JPEG (4:2:2, full range) in AVI.
      std::string avi = dir_.file("in.avi");
      ffmpeg({"-i", in, "-c:v", "mjpeg"}, avi);
      in = avi;
    }
    if (c.rotated) {
      // The rotation lives in the track's display matrix, the pictures stay 1920x1080.
      std::string tagged = dir_.file("rotated.mp4");
      ffmpeg({"-i", in, "-c", "copy", "-metadata:s:v:0", "rotate=90"}, tagged);
      in = tagged;
    }
    const std::string out = dir_.file("out.mp4");
    Outcome r = segment(in, out);
    if (*c.expected == 0) {
      EXPECT_EQ(r.status, 1);
      EXPECT_THAT(r.err, StartsWith("Error Domain=Mask Code=2 \"Camera video has a picture size"));
      EXPECT_FALSE(std::filesystem::exists(out));
      continue;
    }
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(probe(out, "stream=width,height"), c.expected);
    std::filesystem::remove(out);
  }
}

TEST_F(SegmentTest, RateLimitKeepsAtMostSixtyFramesPerSecond) {
  struct Case {
    int fps, frames;
  } cases[] = {{30, 30}, {60, 60}, {120, 60}, {240, 60}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.fps) + " fps");
    const std::string in = pattern(dir_, "in.mp4", 160, 90, c.fps, 1.0);
    const std::string out = dir_.file("out.mp4");
    Outcome r = segment(in, out);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(probe(out, "stream=nb_read_frames", {"-count_frames"}),
              "nb_read_frames=" + std::to_string(c.frames) + "\n");
    // Kept frames keep their source times: every (fps / 60)th frame of a fast source.
    const std::string times = probe(out, "frame=pts_time", {"-read_intervals", "%+#3"});
    const double step = c.fps > 60 ? 1.0 / 60 : 1.0 / c.fps;
    std::ostringstream expected;
    expected.precision(6);
    expected << std::fixed << "pts_time=0.000000\npts_time=" << step << "\npts_time=" << 2 * step
             << "\n";
    EXPECT_EQ(times, expected.str());
    std::filesystem::remove(out);
  }
}

TEST_F(SegmentTest, ProgressEveryThirtyFramesWithTruncatedSeconds) {
  const std::string in = pattern(dir_, "in.mp4", 320, 180, 30, 2.5);  // 75 frames
  Outcome r = segment(in, dir_.file("out.mp4"));
  EXPECT_EQ(r.status, 0);
  // Frame 30 is at 29/30 s, frame 60 at 59/30 s.
  EXPECT_EQ(r.out, "Processed 0 seconds\nProcessed 1 seconds\n");
  EXPECT_EQ(r.err, "");
}

TEST_F(SegmentTest, TimelineEndsAtTheFileDurationEvenWhenPicturesStopEarlier) {
  // One second of video muxed with two seconds of sound: the asset lasts 2 s.
  const std::string in = dir_.file("in.mp4");
  ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=320x180:rate=30:duration=1", "-f", "lavfi", "-i",
          "sine=frequency=440:sample_rate=48000:duration=2", "-pix_fmt", "yuv420p", "-c:v",
          "libx264", "-preset", "ultrafast", "-c:a", "aac"},
         in);
  const std::string out = dir_.file("out.mp4");
  ASSERT_EQ(segment(in, out).status, 0);
  const std::string streams = probe(out, "stream=codec_type,nb_frames,duration");
  EXPECT_EQ(streams, "codec_type=video\nduration=2.000000\nnb_frames=30\n");
}

TEST_F(SegmentTest, WrongArgumentCountExitsTwoWithoutOutput) {
  const std::string out = dir_.file("out.mp4");
  for (auto argv : std::vector<std::vector<std::string>>{
           {programPath("tavolu-segment")},
           {programPath("tavolu-segment"), out},
           {programPath("tavolu-segment"), "/dev/null", out, "extra"}}) {
    Outcome r = run(argv);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
  }
  EXPECT_FALSE(std::filesystem::exists(out));
}

TEST_F(SegmentTest, FailuresGiveOneDescriptionLineAndStatusOne) {
  const std::string audioOnly = dir_.file("audio.m4a");
  ffmpeg({"-f", "lavfi", "-i", "sine=frequency=440:duration=0.5", "-c:a", "aac"}, audioOnly);
  const std::string notMedia = dir_.file("notes.txt");
  std::ofstream(notMedia) << "not a video\n";
  const std::string video = pattern(dir_, "in.mp4", 320, 180, 30, 0.2);
  const std::string out = dir_.file("out.mp4");
  struct Case {
    std::string in, out, expected;
    std::map<std::string, std::string> env = {};
  } cases[] = {
      {audioOnly, out,
       "Error Domain=Mask Code=1 \"Camera video has no video track.\" "
       "UserInfo={NSLocalizedDescription=Camera video has no video track.}\n"},
      {dir_.file("missing.mov"), out, "Cannot open " + dir_.file("missing.mov")},
      {notMedia, out, "Cannot open " + notMedia},
      {video, dir_.file("no/such/folder/out.mp4"),
       "Cannot create " + dir_.file("no/such/folder/out.mp4")},
      {video, out, "scripts/setup", {{"TAVOLU_SEGMENT_MODEL_DIR", dir_.path()}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in + " -> " + c.out);
    Outcome r = segment(c.in, c.out, c.env);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_THAT(r.err, StartsWith("Error Domain="));
    EXPECT_THAT(r.err, HasSubstr(c.expected));
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_FALSE(std::filesystem::exists(out));
  }
}

TEST_F(SegmentTest, ExistingFilesAreNeverOverwritten) {
  const std::string in = pattern(dir_, "in.mp4", 320, 180, 30, 0.2);
  const std::string existing = dir_.file("existing.mp4");
  std::ofstream(existing) << "keep me";
  const auto inputSize = std::filesystem::file_size(in);
  // An output that exists already, and an output that is the input itself.
  for (const std::string& out : {existing, in}) {
    Outcome r = segment(in, out);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_THAT(r.err, HasSubstr("Cannot create " + out + ": File exists."));
  }
  std::ifstream kept(existing);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "keep me");
  EXPECT_EQ(std::filesystem::file_size(in), inputSize);
  EXPECT_EQ(segment(in, dir_.file("fresh.mp4")).status, 0);
}

TEST_F(SegmentTest, OutputIsAlwaysMpeg4WithOneH264Track) {
  const std::string in = pattern(dir_, "in.mp4", 320, 240, 30, 2.0);
  const std::string out = dir_.file("matte.mov.weird");
  ASSERT_EQ(segment(in, out).status, 0);
  EXPECT_EQ(probe(out, "format=format_name"), "format_name=mov,mp4,m4a,3gp,3g2,mj2\n");
  EXPECT_EQ(probe(out, "stream=codec_name,profile,pix_fmt"),
            "codec_name=h264\nprofile=High\npix_fmt=yuv420p\n");
  // A key frame at least every 15 frames.
  std::istringstream flags(probe(out, "frame=key_frame"));
  std::string line;
  int frames = 0, sinceKey = 0, longest = 0;
  while (std::getline(flags, line)) {
    ++frames;
    sinceKey = line == "key_frame=1" ? 1 : sinceKey + 1;
    longest = std::max(longest, sinceKey);
  }
  EXPECT_EQ(frames, 60);
  EXPECT_LE(longest, 15);
}

// The astronaut photograph as a short clip: the matte must be white on her and black on the
// background, including the model rocket and the wall, whichever way the track is stored.
class PhotographTest : public SegmentTest {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(TAVOLU_SEGMENT_PHOTO))
      FAIL() << TAVOLU_SEGMENT_PHOTO << " is missing: run scripts/setup";
  }
  void expectPersonMatte(const std::string& in) {
    const std::string out = dir_.file("matte.mp4");
    Outcome r = segment(in, out);
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(probe(out, "stream=width,height"), "width=1024\nheight=1024\n");
    Grey m = firstFrame(out, 1024, 1024);
    // The photograph is 512 x 512; the matte doubles every coordinate.
    EXPECT_GT(m.mean(380, 140, 560, 320), 235) << "face";
    EXPECT_GT(m.mean(340, 80, 540, 140), 235) << "hair";
    EXPECT_GT(m.mean(250, 560, 600, 800), 235) << "orange suit";
    EXPECT_LT(m.mean(720, 40, 940, 560), 15) << "model rocket and wall, right";
    EXPECT_LT(m.mean(120, 40, 280, 220), 15) << "wall, top left";
    // The outline is a sharp edge, not a wide blur: few mid-grey pixels overall.
    long long grey = 0;
    for (char c : m.px) grey += static_cast<uint8_t>(c) > 40 && static_cast<uint8_t>(c) < 215;
    EXPECT_LT(grey, 1024 * 1024 / 10);
    std::filesystem::remove(out);
  }
};

TEST_F(PhotographTest, MatteCoversThePersonAndNotTheBackground) {
  const std::string in = dir_.file("astronaut.mp4");
  ffmpeg({"-loop", "1", "-i", TAVOLU_SEGMENT_PHOTO, "-t", "0.2", "-r", "30", "-pix_fmt", "yuv420p",
          "-c:v", "libx264"},
         in);
  expectPersonMatte(in);
}

TEST_F(PhotographTest, StillPictureFileGivesAOneFrameMatte) {
  // The PNG itself: RGB pictures go through libswscale rather than the 4:2:0 path.
  expectPersonMatte(TAVOLU_SEGMENT_PHOTO);
}

TEST_F(PhotographTest, SidewaysTrackIsSegmentedUpright) {
  // Pictures stored turned a quarter clockwise, with a display matrix that turns them back.
  const std::string stored = dir_.file("sideways.mp4"), tagged = dir_.file("tagged.mp4");
  ffmpeg({"-loop", "1", "-i", TAVOLU_SEGMENT_PHOTO, "-t", "0.2", "-r", "30", "-vf", "transpose=1",
          "-pix_fmt", "yuv420p", "-c:v", "libx264"},
         stored);
  ffmpeg({"-i", stored, "-c", "copy", "-metadata:s:v:0", "rotate=90"}, tagged);
  expectPersonMatte(tagged);
}

TEST_F(PhotographTest, WriteFailureMidwayIsReportedNotHidden) {
  // The file may grow to 20 KB only, as on a full disk: the muxer's buffered writes fail after
  // a few frames of a moving person's matte, on the thread that encodes, and the run must fail.
  const std::string in = dir_.file("astronaut.mp4");
  ffmpeg({"-loop", "1", "-i", TAVOLU_SEGMENT_PHOTO, "-t", "3", "-r", "30", "-vf",
          "scale=1024:1024,crop=1024:576:0:'200+150*sin(2*t)'", "-pix_fmt", "yuv420p", "-c:v",
          "libx264", "-preset", "ultrafast"},
         in);
  const std::string out = dir_.file("out.mp4");
  Outcome r = run({"/bin/sh", "-c", "trap '' XFSZ; ulimit -f 40; exec \"$0\" \"$1\" \"$2\"",
                   programPath("tavolu-segment"), in, out});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, StartsWith("Error Domain=FFmpeg"));
  EXPECT_THAT(r.err, HasSubstr("Cannot write " + out + ": File too large."));
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
}

}  // namespace
}  // namespace tavolu::test
