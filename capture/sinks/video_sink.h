// Writes one H.264 video track to a fragmented MPEG-4 file from BGRA pictures stamped on the
// host clock. Appending never waits: pictures pass a bounded queue to an encoder thread and a
// full queue counts a dropped frame.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "capture/sinks/encoder_queue.h"
#include "capture/sinks/fragmented_mp4_writer.h"
#include "capture/sinks/h264_encoder.h"
#include "platform/error.h"
#include "platform/media_time.h"
#include "platform/pixel_buffer.h"

namespace tavolu {

class VideoSink {
 public:
  // Pictures that may wait for the encoder: a quarter of a second at 30 fps.
  static constexpr size_t kQueueCapacity = 8;

  // Creates the file at `path` for width x height pictures at `fps`, its timeline starting at
  // `origin`. Throws the writer's error when the file cannot be created or started.
  VideoSink(const std::string& path, int width, int height, int fps, MediaTime origin,
            size_t queueCapacity = kQueueCapacity);
  // Stops the encoder thread; without finish() the file keeps the fragments written so far.
  ~VideoSink();
  VideoSink(const VideoSink&) = delete;
  VideoSink& operator=(const VideoSink&) = delete;

  // Queues a picture at `pts`. A time not later than the last accepted one (or before the
  // origin) is ignored and counted nowhere; a full queue counts a dropped frame.
  void append(PixelBufferRef frame, MediaTime pts);
  // Repeats the last picture one frame before `end` when it is older, ends the timeline
  // exactly at `end` and closes the file; waits for the encoder. Throws when the file did not
  // complete ("Capture" 12 when the encoder reported nothing of its own).
  void finish(MediaTime end, int fps);

  int64_t frames() const { return frames_; }
  int64_t dropped() const { return dropped_; }
  const std::string& path() const { return path_; }

  // Test seams: hold the encoder thread so the queue fills; let it go on; wait until it
  // has encoded everything queued.
  void holdEncoderForTesting() { queue_.hold(); }
  void releaseEncoderForTesting() { queue_.release(); }
  void waitEncodedForTesting() { queue_.waitIdle(); }

 private:
  struct QueuedFrame {
    PixelBufferRef frame;
    int64_t pts;  // in the track's time base
  };

  bool enqueue(const PixelBufferRef& frame, MediaTime pts, bool wait);
  void encodeLoop();
  void writePacket(AVPacket* packet);
  void fail(const Error& error);

  std::string path_;
  MediaTime origin_;
  AVRational timeBase_;
  std::unique_ptr<FragmentedMp4Writer> writer_;
  std::unique_ptr<H264Encoder> encoder_;

  // Capture side (one caller at a time).
  PixelBufferRef last_;
  MediaTime lastPTS_ = MediaTime::invalid();
  int64_t lastTicks_ = -1;
  std::atomic<int64_t> frames_{0};
  std::atomic<int64_t> dropped_{0};
  bool finished_ = false;

  // Encoder side.
  av::PacketPtr pending_;  // held back until the next packet (or the end) gives its duration
  bool hasPending_ = false;
  int64_t endTicks_ = INT64_MAX;
  int64_t written_ = 0;
  std::atomic<bool> failed_{false};
  std::mutex failureMutex_;
  std::optional<Error> failure_;

  EncoderQueue<QueuedFrame> queue_;
  std::thread thread_;
};

}  // namespace tavolu
