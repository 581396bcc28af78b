// Records one PulseAudio source as 32-bit float interleaved buffers stamped on the host clock:
// the monitor of the default sink (system audio) or a microphone.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/audio_buffer.h"
#include "platform/error.h"

namespace tavolu {

class PulseAudioCapture {
 public:
  enum class Source { systemAudio, microphone };
  struct Options {
    Source source = Source::microphone;
    std::optional<std::string>
        device;          // microphone: a source name; none or "default": the default source
    int sampleRate = 0;  // 0: the source's own rate
    int channels = 0;    // 0: the source's own channel count
    std::optional<std::string> server;  // none: $PULSE_SERVER or the default server
  };
  using Deliver = std::function<void(AudioSampleBuffer)>;
  using Failed = std::function<void(const Error&)>;

  // Connects to the sound server and finds the source; throws Error when the server cannot be
  // reached or the source does not exist. `deliver` and `failed` are called on the sound
  // server's thread; `failed` at most once, when recording breaks off.
  PulseAudioCapture(Options options, Deliver deliver, Failed failed);
  ~PulseAudioCapture();
  PulseAudioCapture(const PulseAudioCapture&) = delete;
  PulseAudioCapture& operator=(const PulseAudioCapture&) = delete;

  // Starts recording and returns once the server records; throws Error.
  void start();
  // Stops recording; no callback runs once it returns. Idempotent.
  void stop();

  // The source recorded and the format of its buffers.
  const std::string& sourceName() const;
  AudioFormat format() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tavolu
