// Recycles frame buffers whose consumers have all let go of them, so a camera running at 30 fps
// does not allocate (and zero) eight megabytes per frame.
#pragma once

#include <memory>
#include <vector>

#include "platform/pixel_buffer.h"

namespace tavolu {

class PixelBufferPool {
 public:
  explicit PixelBufferPool(size_t limit = 6) : limit_(limit) {}

  // A buffer of the given size that nobody else holds; its contents are unspecified.
  std::shared_ptr<PixelBuffer> acquire(int width, int height) {
    for (auto& buffer : buffers_) {
      // Only the pool holds it, and only the pool's owner hands it out, so nobody can take a
      // new reference between this test and the reuse.
      if (buffer.use_count() == 1 && buffer->width == width && buffer->height == height)
        return buffer;
    }
    auto fresh = PixelBuffer::make(width, height);
    if (buffers_.size() < limit_) {
      buffers_.push_back(fresh);
    } else {
      for (auto& buffer : buffers_)
        if (buffer.use_count() == 1) {
          buffer = fresh;  // a buffer of an old size
          break;
        }
    }
    return fresh;
  }

 private:
  size_t limit_;
  std::vector<std::shared_ptr<PixelBuffer>> buffers_;
};

}  // namespace tavolu
