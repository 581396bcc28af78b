// Writes one AAC track to a fragmented M4A file from audio buffers stamped on the host clock.
// Appending never waits: buffers pass a bounded queue to an encoder thread and a full queue
// counts a dropped buffer. Sources of three or more channels are mixed down to one.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "capture/sinks/aac_encoder.h"
#include "capture/sinks/audio_timeline.h"
#include "capture/sinks/down_mixer.h"
#include "capture/sinks/encoder_queue.h"
#include "capture/sinks/fragmented_mp4_writer.h"
#include "platform/audio_buffer.h"
#include "platform/error.h"
#include "platform/media_time.h"

namespace tavolu {

class AudioSink {
 public:
  // Buffers that may wait for the encoder: about 1.3 s of 20 ms buffers.
  static constexpr size_t kQueueCapacity = 64;
  // Disagreement between buffer times absorbed without silence or cuts.
  static constexpr double kToleranceSeconds = 0.020;

  // Creates the file at `path`, its timeline starting at `origin`, for the format of `first`
  // (which is only read here; the caller appends it like any other). Throws the writer's
  // error when the file cannot be created, "Capture.Audio" 14 for a source of three or more
  // channels that cannot be mixed down, "Capture.Audio" 13 when the encoder cannot start.
  AudioSink(const std::string& path, MediaTime origin, const AudioSampleBuffer& first,
            size_t queueCapacity = kQueueCapacity);
  ~AudioSink();  // without finish() the file keeps the fragments written so far
  AudioSink(const AudioSink&) = delete;
  AudioSink& operator=(const AudioSink&) = delete;

  // Queues a buffer; a full queue, a buffer that does not match the source format or one
  // that cannot be mixed down counts as dropped.
  void append(const AudioSampleBuffer& buffer);
  // Ends the timeline exactly at `end` (silence up to it, nothing beyond), closes the file
  // and waits for it. Throws the writer's error, or "Capture" 13 without one of its own.
  void finish(MediaTime end);

  const std::string& path() const { return path_; }
  int64_t samples() const { return samples_; }
  int64_t dropped() const { return dropped_; }
  int outputChannels() const { return outputChannels_; }
  double encoderSampleRate() const { return encodeRate_; }
  int64_t bitRate() const { return bitRate_; }

  // The AAC sample rate for a source rate (the channel count does not matter).
  static double encodeRate(double sourceRate, int channels);

  // Test seams: hold the encoder thread so the queue fills; let it go on; wait until it has
  // encoded everything queued.
  void holdEncoderForTesting() { queue_.hold(); }
  void releaseEncoderForTesting() { queue_.release(); }
  void waitEncodedForTesting() { queue_.waitIdle(); }

 private:
  void encodeLoop();
  void encodeBuffer(const AudioSampleBuffer& buffer);
  void fail(const Error& error);

  std::string path_;
  std::string name_;  // last path component, for messages
  MediaTime origin_;
  AudioFormat source_;
  int outputChannels_ = 0;
  double encodeRate_ = 0;
  int64_t bitRate_ = 0;
  std::unique_ptr<FragmentedMp4Writer> writer_;
  std::unique_ptr<DownMixer> mixer_;
  std::unique_ptr<AacEncoder> encoder_;
  AudioTimeline timeline_;

  std::atomic<int64_t> samples_{0};
  std::atomic<int64_t> dropped_{0};
  std::atomic<int64_t> endFrame_{INT64_MAX};  // source frames; no silence is made past it
  bool finished_ = false;
  std::atomic<bool> failed_{false};
  std::mutex failureMutex_;
  std::optional<Error> failure_;

  EncoderQueue<AudioSampleBuffer> queue_;
  std::thread thread_;
};

}  // namespace tavolu
