#include "capture/sinks/audio_sink.h"

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

using test::probeFile;
using test::TempDir;

const MediaTime kOrigin = MediaTime::fromNanos(200'000'000'000);

MediaTime atSeconds(double s) { return kOrigin + MediaTime::fromNanos(std::llround(s * 1e9)); }

// `seconds` of a 1 kHz tone of `amplitude` on every channel, starting `start` seconds after
// the origin.
AudioSampleBuffer tone(const AudioFormat& format, double start, double seconds,
                       float amplitude = 0.5f) {
  AudioSampleBuffer b;
  b.format = format;
  b.pts = atSeconds(start);
  b.frames = std::llround(seconds * format.sampleRate);
  for (int64_t j = 0; j < b.frames; ++j) {
    double t = start + j / format.sampleRate;
    float v = amplitude * static_cast<float>(std::sin(2 * M_PI * 1000 * t));
    for (uint32_t c = 0; c < format.channelsPerFrame; ++c) b.samples.push_back(v);
  }
  return b;
}

// Buffers of 10 ms covering [from, to) seconds.
void appendTone(AudioSink& sink, const AudioFormat& format, double from, double to,
                float amplitude = 0.5f) {
  for (double t = from; t < to - 1e-9; t += 0.01)
    sink.append(tone(format, t, std::min(0.01, to - t), amplitude));
}

// Root mean square of channel 0 between two times, in seconds.
double rms(const test::ProbedTrack& track, double from, double to) {
  const auto& s = track.samples.at(0);
  size_t a = static_cast<size_t>(from * track.sampleRate);
  size_t b = std::min(s.size(), static_cast<size_t>(to * track.sampleRate));
  double sum = 0;
  for (size_t i = a; i < b; ++i) sum += s[i] * s[i];
  return b > a ? std::sqrt(sum / (b - a)) : 0;
}

TEST(AudioSink, EncodesAacWithTheRateChannelsAndBitRateOfTheSource) {
  struct Case {
    const char* name;
    AudioFormat format;
    int channels;
    int rate;
    int64_t bitRate;
  } cases[] = {
      {"stereo 48 kHz", AudioFormat::floatInterleaved(48000, 2), 2, 48000, 192000},
      {"mono 48 kHz", AudioFormat::floatInterleaved(48000, 1), 1, 48000, 96000},
      {"stereo 44.1 kHz", AudioFormat::floatInterleaved(44100, 2), 2, 44100, 176400},
      {"six channels mixed to mono", AudioFormat::floatInterleaved(48000, 6), 1, 48000, 96000},
      {"mono 47999 Hz resampled", AudioFormat::floatInterleaved(47999, 1), 1, 44100, 88200},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = dir.file("rec.mp4.system.m4a");
    AudioSink sink(path, kOrigin, tone(c.format, 0, 0.01), 200);
    EXPECT_EQ(sink.path(), path);
    appendTone(sink, c.format, 0, 1.0, 0.1f);
    sink.finish(atSeconds(1.0));
    EXPECT_EQ(sink.samples(), 100);
    EXPECT_EQ(sink.dropped(), 0);
    EXPECT_EQ(sink.bitRate(), c.bitRate);

    auto track = probeFile(path, true);
    EXPECT_EQ(track.codec, "aac");
    EXPECT_EQ(track.channels, c.channels);
    EXPECT_EQ(track.sampleRate, c.rate);
    // Priming sits before the origin; the sound runs from the origin to exactly the end.
    EXPECT_EQ(track.primingSamples, 1024);
    ASSERT_EQ(track.samples.size(), static_cast<size_t>(c.channels));
    EXPECT_EQ(track.samples[0].size(), static_cast<size_t>(c.rate));
    // Six channels of 0.1 sum to 0.6: the mix is a sum, not an average.
    double expected = (c.format.channelsPerFrame >= 3 ? 0.6 : 0.1) / std::sqrt(2.0);
    EXPECT_NEAR(rms(track, 0.1, 0.9), expected, 0.1 * expected);
  }
}

// Buffer times decide where the sound goes: gaps become silence, overlaps are cut, and the
// file ends exactly at the end time.
TEST(AudioSink, KeepsTheSoundAtItsTimesAndEndsAtTheEnd) {
  struct Span {
    double from, to;
  };
  struct Case {
    const char* name;
    std::vector<Span> buffers;  // appended in this order, as 10 ms buffers
    double end;
    std::vector<Span> loud, quiet;
  } cases[] = {
      {"contiguous", {{0, 0.5}}, 0.5, {{0.01, 0.49}}, {}},
      {"late first buffer", {{0.1, 0.5}}, 0.5, {{0.12, 0.48}}, {{0, 0.08}}},
      {"gap filled with silence",
       {{0, 0.2}, {0.4, 0.5}},
       0.5,
       {{0.02, 0.18}, {0.42, 0.48}},
       {{0.22, 0.38}}},
      {"overlap cut", {{0, 0.3}, {0.2, 0.4}}, 0.5, {{0.02, 0.38}}, {{0.42, 0.5}}},
      {"end before the last buffer", {{0, 0.5}}, 0.3, {{0.02, 0.28}}, {}},
      {"end after the last buffer", {{0, 0.2}}, 0.6, {{0.02, 0.18}}, {{0.22, 0.6}}},
  };
  const auto format = AudioFormat::floatInterleaved(48000, 2);
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = dir.file("times.m4a");
    AudioSink sink(path, kOrigin, tone(format, c.buffers[0].from, 0.01), 200);
    for (const auto& span : c.buffers) appendTone(sink, format, span.from, span.to);
    sink.finish(atSeconds(c.end));
    auto track = probeFile(path, true);
    ASSERT_FALSE(track.samples.empty());
    EXPECT_EQ(track.samples[0].size(), static_cast<size_t>(std::llround(c.end * 48000)));
    for (const auto& span : c.loud)
      EXPECT_NEAR(rms(track, span.from, span.to), 0.5 / std::sqrt(2.0), 0.05) << span.from;
    for (const auto& span : c.quiet) EXPECT_LT(rms(track, span.from, span.to), 0.01) << span.from;
  }
}

TEST(AudioSink, CountsBuffersItCannotTake) {
  TempDir dir;
  const auto six = AudioFormat::floatInterleaved(48000, 6);
  AudioSink sink(dir.file("busy.m4a"), kOrigin, tone(six, 0, 0.01), 2);
  sink.holdEncoderForTesting();
  for (int n = 0; n < 5; ++n) sink.append(tone(six, n * 0.01, 0.01));
  EXPECT_EQ(sink.samples(), 2);
  EXPECT_EQ(sink.dropped(), 3);  // queue full
  sink.releaseEncoderForTesting();
  sink.waitEncodedForTesting();

  AudioSampleBuffer empty = tone(six, 0.05, 0);
  sink.append(empty);  // nothing to mix down
  AudioSampleBuffer other = tone(AudioFormat::floatInterleaved(44100, 6), 0.05, 0.01);
  sink.append(other);  // not the format the file was started with
  AudioSampleBuffer torn = tone(six, 0.05, 0.01);
  torn.samples.resize(10);  // fewer samples than its frame count says
  sink.append(torn);
  EXPECT_EQ(sink.samples(), 2);
  EXPECT_EQ(sink.dropped(), 6);
  sink.append(tone(six, 0.05, 0.01));
  EXPECT_EQ(sink.samples(), 3);
  sink.finish(atSeconds(0.06));
}

TEST(AudioSink, ReportsSourcesAndFilesItCannotTake) {
  TempDir dir;
  AudioFormat compressed4{48000, 0x61616320 /* 'aac ' */, 0, 0, 1024, 0, 4, 0};
  AudioFormat compressed2 = compressed4;
  compressed2.channelsPerFrame = 2;
  AudioFormat planar6 = AudioFormat::floatInterleaved(48000, 6);
  planar6.formatFlags = 41;
  struct Case {
    const char* name;
    std::string path;
    std::optional<AudioFormat> format;
    std::string domain;
    int code;
    std::string message;
  } cases[] = {
      {"compressed four channels", dir.file("rec.mp4.system.m4a"), compressed4, "Capture.Audio", 14,
       "Unsupported 4-channel audio format for rec.mp4.system.m4a (0-bit, flags 0)."},
      {"planar six channels", dir.file("rec.mp4.system.m4a"), planar6, "Capture.Audio", 14,
       "Unsupported 6-channel audio format for rec.mp4.system.m4a (32-bit, flags 41)."},
      {"compressed stereo", dir.file("rec.mp4.microphone.m4a"), compressed2, "Capture.Audio", 13,
       "Audio encoder could not start for rec.mp4.microphone.m4a (48000 Hz, 2 channels)."},
      {"no sample rate", dir.file("rec.mp4.microphone.m4a"), AudioFormat::floatInterleaved(0, 1),
       "Capture.Audio", 13,
       "Audio encoder could not start for rec.mp4.microphone.m4a (0 Hz, 1 channels)."},
      {"no channels", dir.file("rec.mp4.microphone.m4a"), AudioFormat::floatInterleaved(48000, 0),
       "Capture.Audio", 13,
       "Audio encoder could not start for rec.mp4.microphone.m4a (48000 Hz, 0 channels)."},
      {"no format", dir.file("rec.mp4.microphone.m4a"), std::nullopt, "Capture.Audio", 13,
       "Audio encoder could not start for rec.mp4.microphone.m4a (the first buffer has no "
       "format)."},
      {"missing folder", dir.file("missing/rec.m4a"), AudioFormat::floatInterleaved(48000, 2),
       "FFmpeg", AVERROR(ENOENT),
       "Could not create " + dir.file("missing/rec.m4a") + ": No such file or directory"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    AudioSampleBuffer first;
    first.format = c.format;
    first.pts = kOrigin;
    try {
      AudioSink sink(c.path, kOrigin, first);
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      EXPECT_EQ(e.domain(), c.domain);
      EXPECT_EQ(e.code(), c.code);
      EXPECT_EQ(e.localizedDescription(), c.message);
      if (c.code == 13 && c.format) {
        EXPECT_EQ(e.info().count("NSUnderlyingError"), 1u);
      }
    }
    EXPECT_NE(access(c.path.c_str(), F_OK), 0) << "a failed start leaves no file";
  }
}

TEST(AudioSink, FinishReportsAFileThatCouldNotBeWritten) {
  TempDir dir;
  std::string path = dir.file("full.m4a");
  std::string outcome = test::runWithFileSizeLimit(4000, [&]() -> std::string {
    try {
      const auto format = AudioFormat::floatInterleaved(48000, 2);
      AudioSink sink(path, kOrigin, tone(format, 0, 0.01), 1000);
      appendTone(sink, format, 0, 5);
      sink.finish(atSeconds(5));
      return "no error";
    } catch (const Error& e) {
      return e.domain() + " " + e.localizedDescription();
    }
  });
  EXPECT_EQ(outcome.rfind("FFmpeg Could not write to " + path + ": File too large", 0), 0u)
      << outcome;
}

// A recording killed mid-way leaves a file that opens, holding every finished fragment.
TEST(AudioSink, FileOfAKilledRecordingStillOpens) {
  TempDir dir;
  std::string path = dir.file("killed.m4a");
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(ready[0]);
    const auto format = AudioFormat::floatInterleaved(48000, 2);
    AudioSink sink(path, kOrigin, tone(format, 0, 0.01), 1000);
    appendTone(sink, format, 0, 5);
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
  EXPECT_EQ(track.codec, "aac");
  ASSERT_FALSE(track.samples.empty());
  // Fragments of about 2 s: the first two of the 5 seconds are surely in the file.
  EXPECT_GE(track.samples[0].size(), 39u * 4800);
  EXPECT_NEAR(rms(track, 0.1, 3.9), 0.5 / std::sqrt(2.0), 0.05);
  EXPECT_GT(test::ffprobeDuration(path), 3.9);
}

}  // namespace
}  // namespace tavolu
