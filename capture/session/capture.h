// The recording session: turns a start command into a running screen stream, camera and file
// writers, routes every sample on the capture queue against one host-clock origin, and stops
// and finishes the recording or fails it.
#pragma once

#include <asio/io_context.hpp>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "capture/main/event_channel.h"
#include "capture/preview/recording_preview.h"
#include "capture/session/recorder.h"
#include "capture/session/start_options.h"
#include "capture/session/stream_setup.h"
#include "capture/sinks/audio_sink.h"
#include "capture/sinks/video_sink.h"
#include "capture/telemetry/input_telemetry.h"
#include "capture/telemetry/telemetry_context.h"
#include "platform/camera.h"
#include "platform/error.h"
#include "platform/input.h"
#include "platform/screen_stream.h"
#include "platform/serial_queue.h"
#include "platform/window_system.h"

namespace tavolu {

// What a recording needs of the system.
struct CaptureServices {
  ScreenCapture* screen = nullptr;
  WindowSystem* windows = nullptr;  // the input-monitoring check
  Cameras* cameras = nullptr;
  std::shared_ptr<Input> input;
  asio::io_context* mainLoop = nullptr;
  // Microphone permission; Linux has none to ask for.
  std::function<bool()> requestMicrophoneAccess = [] { return true; };
  // Waits out the countdown.
  std::function<void(int64_t seconds)> sleepSeconds;
  // Ends the process (tests record the status instead).
  std::function<void(int status)> exitProcess;
  // Where the display diagnostic line goes.
  std::function<void(const std::string&)> writeDiagnostic;
};

class Capture final : public Recorder, public StreamDelegate, public TelemetryContext {
 public:
  explicit Capture(CaptureServices services);
  ~Capture() override;

  // Sets up and starts a recording from a start command; throws Error. Runs on a task of its
  // own. A start while another recording is being prepared, runs or stops is ignored.
  void start(const Json& command) override;
  // Stops the recording and finishes its files; failures end in fail(). Only the first call
  // does anything; later calls return at once.
  void stop() override;
  // Emits one "error" event and ends the process with status 1.
  void fail(const Error& error) override;
  // Waits until a stop that has begun has finished (or returns at once when none runs).
  void waitForStop() override;

  // No unfinished screen recording exists.
  bool screenDone() const override { return screenDone_; }
  // Whether a screen stream was created for the current recording.
  bool hasStream() const override { return hasStream_; }

  // StreamDelegate, on the capture queue / any thread.
  void streamDidOutput(const StreamSample& sample, StreamOutputType type) override;
  void streamDidStop(const Error& error) override;

  // TelemetryContext, on the capture queue.
  bool accepting() const override { return accepting_; }
  std::optional<MediaTime> origin() const override { return origin_; }
  Rect captureBounds() const override { return captureBounds_; }

  SerialQueue& queue() { return queue_; }

 private:
  struct Source {
    ContentFilter filter;
    Rect rect;
    SourceKind kind = SourceKind::other;
  };

  void reset();
  void setUpCamera(const std::string& uniqueId);
  Source resolveSource(const StartOptions& options);
  ContentFilter chooseFilter();
  void cameraFrameArrived(PixelBufferRef frame, MediaTime time);
  void appendCamera(PixelBufferRef frame, MediaTime time);
  void routeAudio(const StreamSample& sample, StreamOutputType type);
  void routeScreen(const StreamSample& sample);
  void finishStop();

  CaptureServices services_;

  // Per recording; written by the start task before intake is switched on, then owned by the
  // capture queue until the stop has switched intake off again.
  std::unique_ptr<ScreenStream> stream_;
  std::unique_ptr<CameraSession> cameraSession_;
  std::unique_ptr<VideoSink> screenSink_, cameraSink_;
  std::unique_ptr<AudioSink> systemSink_, micSink_;
  std::optional<MediaTime> origin_;
  PixelBufferRef cameraFrame_;
  MediaTime cameraTime_ = MediaTime::invalid();
  std::string videoPath_, cameraPath_;
  int32_t fps_ = 30;
  int width_ = 0, height_ = 0;
  bool accepting_ = false;
  Rect captureBounds_;
  bool followWindow_ = false;
  bool keyTelemetry_ = false;

  std::atomic<bool> stopping_{false};
  std::atomic<bool> screenDone_{true};
  std::atomic<bool> hasStream_{false};
  std::atomic<bool> failed_{false};

  std::mutex stopMutex_;  // guards stopping_ changes and stopRunning_
  std::condition_variable stopFinished_;
  bool stopRunning_ = false;

  std::mutex pickerMutex_;  // one picker at a time; guards chosenFilter_
  std::optional<ContentFilter> chosenFilter_;

  RecordingPreview preview_;
  // Destroyed before the queue: its timers run there.
  SerialQueue queue_{"app.tavolu.capture"};
  std::unique_ptr<InputTelemetry> telemetry_;
};

}  // namespace tavolu
