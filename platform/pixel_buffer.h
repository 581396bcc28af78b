// An uncompressed 32-bit BGRA picture, shared read-only between the capture queue, the writers
// and the preview encoder.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace tavolu {

struct PixelBuffer {
  int width = 0;
  int height = 0;
  int stride = 0;  // bytes per row, at least width * 4
  std::vector<uint8_t> bytes;

  static std::shared_ptr<PixelBuffer> make(int width, int height) {
    auto p = std::make_shared<PixelBuffer>();
    p->width = width;
    p->height = height;
    p->stride = width * 4;
    p->bytes.resize(static_cast<size_t>(p->stride) * height);
    return p;
  }
  uint8_t* row(int y) { return bytes.data() + static_cast<size_t>(y) * stride; }
  const uint8_t* row(int y) const { return bytes.data() + static_cast<size_t>(y) * stride; }
};

using PixelBufferRef = std::shared_ptr<const PixelBuffer>;

}  // namespace tavolu
