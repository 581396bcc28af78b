// Reads the first video track of any file libavformat opens and hands out its decoded
// pictures in presentation order, with the track's size, orientation and duration.
#pragma once

#include <string>

#include "segment/matte/frame_rules.h"
#include "segment/video/av_holders.h"

namespace tavolu::segment {

struct VideoTrack {
  int width = 0, height = 0;   // natural (coded) size
  AffineTransform transform;   // from the stream's display matrix; identity without one
  int clockwiseRotation = 0;   // 0, 90, 180 or 270: how to turn a picture to show it upright
  AVRational timeBase{1, 1};   // of every time below and of each frame's pts
  int64_t duration = 0;        // of the file, in timeBase units
  AVRational frameRate{0, 1};  // the track's average rate where known
};

class VideoReader {
 public:
  // Opens the file and its first video track. Throws the libav error when the file cannot be
  // opened or read, and Mask error 1 when it has no video track.
  explicit VideoReader(const std::string& path);

  const VideoTrack& track() const { return track_; }
  // The next decoded picture (owned by the reader, valid until the next call), or nullptr at
  // the end of the track. A read or decode failure is thrown.
  const AVFrame* next();

 private:
  bool receive();

  std::string path_;
  InputContext format_;
  CodecContext decoder_;
  PacketPtr packet_;
  FramePtr frame_;
  int streamIndex_ = -1;
  int64_t lastPts_ = AV_NOPTS_VALUE;
  bool draining_ = false, finished_ = false;
  VideoTrack track_;
};

}  // namespace tavolu::segment
