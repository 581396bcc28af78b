// A screen stream on X11 and PulseAudio: a capture thread reads the display or window at the
// configured frame interval and hands frames to the capture queue, at most `queueDepth`
// waiting at a time; system audio and microphone buffers come from PulseAudio.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/screen_stream.h"

namespace tavolu {

class PulseAudioCapture;
class X11FrameSource;

class X11ScreenStream : public ScreenStream {
 public:
  // `pulseServer`: the sound server to use; none means $PULSE_SERVER or the default.
  X11ScreenStream(ContentFilter filter, StreamConfiguration config, StreamDelegate& delegate,
                  QueuePost post, std::optional<std::string> pulseServer = std::nullopt);
  ~X11ScreenStream() override;

  void addOutput(StreamOutputType type) override;
  void startCapture() override;
  void stopCapture() override;

  struct Statistics {
    uint64_t complete = 0, idle = 0;         // frames handed to the capture queue
    uint64_t dropped = 0;                    // frames dropped because the queue was full
    std::chrono::nanoseconds pictureTime{};  // spent reading and composing pictures
  };
  Statistics statistics() const;

  // Hands samples to the delegate on the capture queue until it is closed.
  class Delivery;

 private:
  void run();

  ContentFilter filter_;
  StreamConfiguration config_;
  std::optional<std::string> pulseServer_;
  std::shared_ptr<Delivery> delivery_;
  bool screen_ = false;
  std::vector<std::unique_ptr<PulseAudioCapture>> audio_;
  enum class State { idle, running, stopped } state_ = State::idle;

  std::mutex lifecycle_;  // orders addOutput, startCapture and stopCapture from any thread
  std::unique_ptr<X11FrameSource> source_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopRequested_ = false;
  mutable std::mutex statsMutex_;
  Statistics stats_;
};

}  // namespace tavolu
