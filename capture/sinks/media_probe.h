// Reads a written media file back with libavformat/libavcodec (and ffprobe), for tests.
#pragma once

#include <string>
#include <vector>

extern "C" {
#include <libavutil/rational.h>
}

namespace tavolu::test {

struct ProbedPacket {
  int64_t pts = 0;
  int64_t dts = 0;
  int64_t duration = 0;
  bool key = false;
};

struct ProbedTrack {
  std::string codec;  // e.g. "h264", "aac"
  int profile = -1;   // FF_PROFILE_* of the track
  int width = 0, height = 0;
  int videoDelay = 0;  // reordered frames (B-frames) the track declares
  int colorSpace = 2;  // AVColorSpace of the track (2: unspecified)
  int colorRange = 0;  // AVColorRange of the track (0: unspecified)
  int sampleRate = 0, channels = 0;
  int64_t bitRate = 0;  // the track's declared bit rate
  AVRational timeBase{0, 1};
  int64_t streamDuration = 0;   // in the time base, from the first packet to the end
  double startSeconds = 0;      // first presentation time
  double durationSeconds = -1;  // the file's duration as libavformat (and ffprobe) reports it
  std::vector<ProbedPacket> packets;
  std::vector<char> pictureTypes;           // decoded video: 'I', 'P', 'B'
  std::vector<std::vector<float>> samples;  // decoded audio per channel, priming removed
  int64_t primingSamples = 0;
  std::string encoderSettings;  // x264's own settings text, when present
};

// Opens the file's first track and reads every packet; decodes when asked. Failures are
// reported as gtest failures and give an empty track.
ProbedTrack probeFile(const std::string& path, bool decode = false);

// ffprobe's format duration in seconds (negative when ffprobe cannot read the file).
double ffprobeDuration(const std::string& path);

}  // namespace tavolu::test
