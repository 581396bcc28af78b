#include "capture/preview/recording_preview.h"

namespace tavolu {
namespace {
const MediaTime kMinimumInterval = MediaTime::make(1, 24);
}

RecordingPreview::RecordingPreview(std::unique_ptr<PreviewRenderer> context)
    : previewContext_(std::move(context)) {}

void RecordingPreview::offerCameraPreview(PixelBufferRef frame, MediaTime time) {
  // Compared as exact rationals, so a frame exactly 1/24 s after the last one passes whatever
  // the magnitude of the host-clock times; invalid times and times that went backwards fail.
  if (!frame || !time.valid() || time - lastPreview_ < kMinimumInterval) return;
  if (!previewGate_.try_acquire()) return;  // the previous preview is still in flight
  lastPreview_ = time;
  previewQueue_.async([this, frame = std::move(frame)] {
    encodePreviewFrame(frame, *previewContext_, previewGate_, kCap, kQuality, kEventName);
  });
}

}  // namespace tavolu
