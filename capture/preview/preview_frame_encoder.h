// Turns one camera frame into a small JPEG preview event: scale down, JPEG, base64, emit.
#pragma once

#include <semaphore>
#include <string>
#include <vector>

#include "platform/pixel_buffer.h"

struct SwsContext;

namespace tavolu {

// At most one preview frame queued or encoding; taken without waiting, released by the encoder.
using PreviewGate = std::counting_semaphore<1>;

// The rendering context of a preview queue: turns a frame into JPEG bytes. Used on one queue.
class PreviewRenderer {
 public:
  virtual ~PreviewRenderer() = default;
  // JPEG of `frame` with its shorter side brought down to at most `cap` pixels (never enlarged,
  // aspect ratio kept) at `quality` (0...1); empty when no JPEG could be made.
  virtual std::vector<uint8_t> renderJpeg(const PixelBuffer& frame, int cap, double quality) = 0;
};

struct PreviewSize {
  int width = 0;
  int height = 0;
};
// The preview size of a width x height frame: scale min(cap / shorter side, 1), rounded to whole
// pixels, at least 1.
PreviewSize previewSize(int width, int height, int cap);

// Lanczos scaling (libswscale) straight into full-range 4:2:0 planes, JPEG with TurboJPEG.
class JpegPreviewRenderer : public PreviewRenderer {
 public:
  JpegPreviewRenderer();
  ~JpegPreviewRenderer() override;
  JpegPreviewRenderer(const JpegPreviewRenderer&) = delete;
  JpegPreviewRenderer& operator=(const JpegPreviewRenderer&) = delete;

  std::vector<uint8_t> renderJpeg(const PixelBuffer& frame, int cap, double quality) override;

 private:
  bool prepareScaler(int width, int height, PreviewSize out);

  void* compressor_ = nullptr;  // tjhandle
  SwsContext* scaler_ = nullptr;
  int scalerInWidth_ = 0, scalerInHeight_ = 0;
  PreviewSize scalerOut_;
  std::vector<uint8_t> planes_;
};

// Standard base64 (A-Z a-z 0-9 + /, "=" padding, no line breaks).
std::string base64Encode(const std::vector<uint8_t>& bytes);

// Renders `frame` with `context` and emits {"event": eventName, "jpeg": base64} when a JPEG came
// out; releases `gate` in every case.
void encodePreviewFrame(const PixelBufferRef& frame, PreviewRenderer& context, PreviewGate& gate,
                        int cap, double quality, const std::string& eventName);

}  // namespace tavolu
