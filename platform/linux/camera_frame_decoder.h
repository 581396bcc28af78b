// Converts the frames a V4L2 camera delivers (MJPEG or YUYV) to 32-bit BGRA.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/linux/pixel_buffer_pool.h"

namespace tavolu {

class CameraFrameDecoder {
 public:
  CameraFrameDecoder();
  ~CameraFrameDecoder();
  CameraFrameDecoder(const CameraFrameDecoder&) = delete;
  CameraFrameDecoder& operator=(const CameraFrameDecoder&) = delete;

  // A JPEG frame in BGRA at the size its header gives, or null when it cannot be decoded (a
  // damaged frame, which cameras send now and then).
  std::shared_ptr<PixelBuffer> decodeMjpeg(const uint8_t* data, size_t size);
  // A packed 4:2:2 (Y0 U Y1 V) frame with `stride` bytes per row in BGRA, or null when the data
  // is too short for the size.
  std::shared_ptr<PixelBuffer> decodeYuyv(const uint8_t* data, size_t size, int width, int height,
                                          int stride);

 private:
  void* decompressor_;  // tjhandle
  PixelBufferPool pool_;
};

}  // namespace tavolu
