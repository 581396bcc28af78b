// Screen capture streams: what to capture (a content filter), how (a configuration), and the
// samples a running stream delivers (screen frames, system audio, microphone audio).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/audio_buffer.h"
#include "platform/error.h"
#include "platform/geometry.h"
#include "platform/media_time.h"
#include "platform/pixel_buffer.h"
#include "platform/window_system.h"

namespace tavolu {

// What a stream captures: one display (minus some applications' windows) or one window.
struct ContentFilter {
  enum class Style { none = 0, window = 1, display = 2 };
  Style style = Style::none;
  std::optional<Display> display;  // display filters
  std::optional<Window> window;    // window filters: that window alone, wherever it is
  std::vector<Application> excludedApplications;
  std::vector<Window> exceptingWindows;  // kept although their application is excluded
  Rect contentRect;                      // points
  float pointPixelScale = 1;
};

struct StreamConfiguration {
  std::optional<Rect> sourceRect;  // points, relative to the source's top-left corner
  int width = 0;                   // pixels of the delivered frames
  int height = 0;
  MediaTime minimumFrameInterval = MediaTime::make(1, 30);
  int queueDepth = 6;
  bool showsCursor = true;
  bool showMouseClicks = false;
  bool capturesAudio = false;
  bool excludesCurrentProcessAudio = true;
  uint32_t pixelFormat = 0x42475241;  // 'BGRA'
  int sampleRate = 48000;
  int channelCount = 2;
  bool captureMicrophone = false;
  std::optional<std::string> microphoneCaptureDeviceId;  // none: the default input
};

enum class StreamOutputType { screen = 0, audio = 1, microphone = 2 };

// Status of a screen frame; only complete frames carry new content.
enum class FrameStatus {
  complete = 0,
  idle = 1,
  blank = 2,
  suspended = 3,
  started = 4,
  stopped = 5
};

// One sample of a stream output. Screen samples carry pixels and frame information; audio
// samples carry an audio buffer. An invalid sample has neither.
struct StreamSample {
  MediaTime pts;
  PixelBufferRef pixels;                   // screen
  std::optional<int64_t> status;           // screen frame status (FrameStatus values)
  std::optional<Rect> screenRect;          // where the captured content is on screen
  std::optional<AudioSampleBuffer> audio;  // audio and microphone
  bool valid() const { return pts.valid() && (pixels || audio); }
};

// Receives a stream's samples and its unexpected end.
class StreamDelegate {
 public:
  virtual ~StreamDelegate() = default;
  // One sample of an added output, delivered on the capture queue.
  virtual void streamDidOutput(const StreamSample& sample, StreamOutputType type) = 0;
  // The stream ended on its own (source gone, server lost), on any thread.
  virtual void streamDidStop(const Error& error) = 0;
};

class ScreenStream {
 public:
  virtual ~ScreenStream() = default;
  // Adds an output whose samples reach the delegate; throws Error when it cannot.
  virtual void addOutput(StreamOutputType type) = 0;
  // Starts capture and returns once it runs; throws Error when it cannot start.
  virtual void startCapture() = 0;
  // Stops capture and returns once no more samples are delivered; throws Error on failure.
  virtual void stopCapture() = 0;
};

// Delivers `fn` on the capture queue (the executor the stream's samples must arrive on).
using QueuePost = std::function<void(std::function<void()>)>;

class ScreenCapture {
 public:
  virtual ~ScreenCapture() = default;
  // The displays, on-screen windows and running applications; throws Error.
  virtual ShareableContent shareableContent() = 0;
  // A display filter: the display without the excluded applications' windows, except some.
  virtual ContentFilter displayFilter(const Display& display,
                                      const std::vector<Application>& excluded,
                                      const std::vector<Window>& excepting) = 0;
  // A filter that captures one window alone.
  virtual ContentFilter windowFilter(const Window& window) = 0;
  // Lets the user choose a display or window; throws Error code 9 when cancelled.
  virtual ContentFilter pick(const std::string& excludedBundleId) = 0;
  // Creates a stream; samples are handed to `delegate` through `post`.
  virtual std::unique_ptr<ScreenStream> createStream(const ContentFilter& filter,
                                                     const StreamConfiguration& config,
                                                     StreamDelegate& delegate, QueuePost post) = 0;
};

}  // namespace tavolu
