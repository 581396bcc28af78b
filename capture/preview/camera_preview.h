// The camera preview mode: opens the camera the host asks for and streams its picture as
// "frame" events, with "preview" state events and "preview-log" diagnostics.
#pragma once

#include <asio/steady_timer.hpp>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "capture/main/event_channel.h"
#include "capture/preview/preview_frame_encoder.h"
#include "platform/camera.h"
#include "platform/serial_queue.h"

namespace tavolu {

class CameraPreview {
 public:
  static constexpr int kCap = 720;
  static constexpr double kQuality = 0.8;
  static constexpr char kEventName[] = "frame";

  struct Options {
    // How long after the start call a silent camera is reported.
    std::chrono::steady_clock::duration firstFrameCheck = std::chrono::seconds(4);
  };

  CameraPreview(Cameras& cameras, std::unique_ptr<PreviewRenderer> context, Options options);
  explicit CameraPreview(Cameras& cameras)
      : CameraPreview(cameras, std::make_unique<JpegPreviewRenderer>(), Options{}) {}
  // Stops the camera and lets both queues finish what they run.
  ~CameraPreview();
  CameraPreview(const CameraPreview&) = delete;
  CameraPreview& operator=(const CameraPreview&) = delete;

  // Requests a camera by unique id, or no camera; returns at once, the work runs on the queue.
  void set(std::optional<std::string> camera);
  // Waits until the queue has run what was handed to it so far: the requests given to set(),
  // though not the access steps they hand on in turn.
  void flush();
  // Also waits for the encoder to finish what it was given (tests).
  void drainForTesting() {
    flush();
    encodeQueue_.sync([] {});
  }

 private:
  // On queue_:
  void handleRequest(const std::optional<std::string>& camera);
  void openCamera(bool granted, int64_t g, const std::string& camera);
  void stopSession();
  void captureOutput(const PixelBufferRef& frame);
  void checkFirstFrame(int64_t g, const CaptureDevice& device);
  // Emits a "preview" event with `state` and the extra keys.
  void state(const std::string& state, Json extra = Json::object());
  // Emits a "preview-log" event.
  void note(const std::string& message);

  // Lets platform callbacks that may outlive this object find out whether it is still there.
  struct Lifetime {
    explicit Lifetime(CameraPreview* o) : owner(o) {}
    std::mutex mutex;
    CameraPreview* owner;
  };

  Cameras& cameras_;
  Options options_;
  std::unique_ptr<PreviewRenderer> context_;
  PreviewGate gate_{1};
  std::shared_ptr<Lifetime> lifetime_;

  // Owned by queue_.
  std::unique_ptr<CameraSession> session_;
  std::optional<std::string> wanted_;
  int64_t frames_ = 0;
  int64_t generation_ = 0;
  std::optional<asio::steady_timer> firstFrameTimer_;

  // Last, so their threads are joined before the state their jobs use is destroyed.
  SerialQueue encodeQueue_{"app.tavolu.preview-jpeg"};
  SerialQueue queue_{"app.tavolu.preview"};
};

}  // namespace tavolu
