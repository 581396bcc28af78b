// Live camera thumbnails during a recording: frames are admitted on the capture queue by a time
// throttle and a single-slot gate, and encoded on a queue of their own.
#pragma once

#include <memory>

#include "capture/preview/preview_frame_encoder.h"
#include "platform/media_time.h"
#include "platform/serial_queue.h"

namespace tavolu {

class RecordingPreview {
 public:
  static constexpr int kCap = 540;
  static constexpr double kQuality = 0.82;
  static constexpr char kEventName[] = "camera-preview";

  explicit RecordingPreview(
      std::unique_ptr<PreviewRenderer> context = std::make_unique<JpegPreviewRenderer>());
  RecordingPreview(const RecordingPreview&) = delete;
  RecordingPreview& operator=(const RecordingPreview&) = delete;

  // On the capture queue, for every camera frame: schedules a "camera-preview" event when at
  // least 1/24 s (inclusive) passed since the last admitted frame and no preview is in flight;
  // otherwise drops the frame. Never waits.
  void offerCameraPreview(PixelBufferRef frame, MediaTime time);

  // Waits until the preview queue has finished what it was given (tests).
  void drainForTesting() {
    previewQueue_.sync([] {});
  }

 private:
  // Host-clock time of the last admitted frame; starts at zero, never reset.
  MediaTime lastPreview_ = MediaTime::make(0, 1);
  PreviewGate previewGate_{1};
  std::unique_ptr<PreviewRenderer> previewContext_;
  // Last, so it is destroyed (and its thread joined) before the state its jobs use.
  SerialQueue previewQueue_{"app.tavolu.camera-preview"};
};

}  // namespace tavolu
