// Audio capture against the test run's PulseAudio server with its null sink and source.
#include "platform/linux/pulse_audio_capture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "platform/linux/screen_capture_test_support.h"
#include "platform/linux/x11_screen_stream.h"
#include "tests/support/child_process.h"

namespace tavolu {
namespace {

using Entries = std::vector<test::RecordingDelegate::Entry>;

// A 16-bit stereo WAV file with a sine tone.
void writeTone(const std::string& path, int rate, double seconds, double hz) {
  int frames = int(rate * seconds);
  std::vector<int16_t> data(size_t(frames) * 2);
  for (int i = 0; i < frames; ++i)
    data[2 * i] = data[2 * i + 1] = int16_t(16000 * std::sin(2 * M_PI * hz * i / rate));
  auto le32 = [](uint32_t v) {
    return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
  };
  auto le16 = [](uint16_t v) { return std::string{char(v), char(v >> 8)}; };
  uint32_t bytes = uint32_t(data.size() * 2);
  std::string header = "RIFF" + le32(36 + bytes) + "WAVEfmt " + le32(16) + le16(1) + le16(2) +
                       le32(rate) + le32(rate * 4) + le16(4) + le16(16) + "data" + le32(bytes);
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_TRUE(f);
  std::fwrite(header.data(), 1, header.size(), f);
  std::fwrite(data.data(), 2, data.size(), f);
  std::fclose(f);
}

double rms(const AudioSampleBuffer& b) {
  double sum = 0;
  for (float s : b.samples) sum += double(s) * s;
  return b.samples.empty() ? 0 : std::sqrt(sum / b.samples.size());
}

class PulseAudioCaptureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("PULSE_SERVER")) GTEST_SKIP() << "PULSE_SERVER is not set";
  }
};

TEST_F(PulseAudioCaptureTest, SystemAudioToneArrivesAsStampedFloatBuffers) {
  test::RecordingDelegate delegate;
  test::TestQueue queue;
  StreamConfiguration config;
  config.capturesAudio = true;
  X11ScreenStream stream({}, config, delegate, queue.post());
  stream.addOutput(StreamOutputType::audio);
  MediaTime before = hostTimeNow();
  stream.startCapture();

  test::TempDir dir;
  std::string tone = dir.file("tone.wav");
  writeTone(tone, 48000, 3, 440);
  test::ChildProcess player({"/usr/bin/paplay", tone});
  // Half a second of the tone.
  ASSERT_TRUE(delegate.waitFor([](const Entries& e, const auto&) {
    int64_t frames = 0;
    for (const auto& x : e)
      if (x.sample.audio && rms(*x.sample.audio) > 0.1) frames += x.sample.audio->frames;
    return frames >= 24000;
  })) << "no tone arrived";
  stream.stopCapture();
  MediaTime after = hostTimeNow();

  Entries entries = delegate.entries();
  ASSERT_GE(entries.size(), 2u);
  // On the host clock, within the recording (less the server's latency), and each buffer
  // joined to the previous one; the times start over only when the server falls far behind,
  // which a loaded machine can cause, so only their scale is checked there.
  MediaTime previousEnd;
  int joined = 0;
  for (const auto& e : entries) {
    ASSERT_EQ(e.type, StreamOutputType::audio);
    ASSERT_TRUE(e.sample.valid());
    const AudioSampleBuffer& b = *e.sample.audio;
    ASSERT_TRUE(b.format);
    EXPECT_EQ(b.format->sampleRate, 48000);
    EXPECT_EQ(b.format->channelsPerFrame, 2u);
    EXPECT_TRUE(b.format->isInterleavedFloat());
    EXPECT_EQ(b.samples.size(), size_t(b.frames) * 2);
    EXPECT_EQ(e.sample.pts, b.pts);
    EXPECT_GT(b.pts, before - MediaTime::make(1, 2));
    EXPECT_LT(b.pts, after);
    if (previousEnd.valid()) {
      double gap = (b.pts - previousEnd).seconds();
      EXPECT_LT(std::fabs(gap), 1.0);
      joined += std::fabs(gap) < 1e-6;
    }
    previousEnd = b.pts + b.duration();
  }
  EXPECT_GT(joined, 0);
}

TEST_F(PulseAudioCaptureTest, MicrophoneRecordsTheDefaultSourceInItsOwnFormat) {
  std::mutex m;
  std::condition_variable cv;
  std::vector<AudioSampleBuffer> got;
  PulseAudioCapture mic(
      {},
      [&](AudioSampleBuffer b) {
        std::lock_guard lock(m);
        got.push_back(std::move(b));
        cv.notify_all();
      },
      nullptr);
  EXPECT_FALSE(mic.sourceName().empty());
  EXPECT_EQ(mic.sourceName().find(".monitor"), std::string::npos);
  AudioFormat format = mic.format();
  mic.start();
  {
    std::unique_lock lock(m);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(10), [&] { return got.size() >= 3; }));
  }
  mic.stop();
  std::lock_guard lock(m);
  size_t count = got.size();
  for (const auto& b : got) {
    EXPECT_EQ(b.format->sampleRate, format.sampleRate);
    EXPECT_EQ(b.format->channelsPerFrame, format.channelsPerFrame);
  }
  EXPECT_EQ(got.size(), count);
}

TEST_F(PulseAudioCaptureTest, MissingServerOrMicrophoneIsAClearError) {
  struct Case {
    PulseAudioCapture::Options options;
    std::string messagePart;
  } cases[] = {
      {{PulseAudioCapture::Source::systemAudio, {}, 48000, 2, "unix:/nonexistent/pulse"},
       "sound server could not be reached"},
      {{PulseAudioCapture::Source::microphone, "no-such-microphone", 0, 0, {}},
       "\"no-such-microphone\""},
  };
  for (const Case& c : cases) {
    try {
      PulseAudioCapture capture(c.options, nullptr, nullptr);
      ADD_FAILURE() << "no error for " << c.messagePart;
    } catch (const Error& e) {
      EXPECT_EQ(e.domain(), "PulseAudio");
      EXPECT_NE(e.localizedDescription().find(c.messagePart), std::string::npos)
          << e.localizedDescription();
    }
  }
  // Through the stream: the output cannot be added.
  test::RecordingDelegate delegate;
  test::TestQueue queue;
  X11ScreenStream stream({}, {}, delegate, queue.post(), "unix:/nonexistent/pulse");
  EXPECT_THROW(stream.addOutput(StreamOutputType::microphone), Error);
}

}  // namespace
}  // namespace tavolu
