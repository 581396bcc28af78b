#include "platform/linux/camera_frame_decoder.h"

#include <libyuv/convert_argb.h>
#include <turbojpeg.h>

namespace tavolu {

CameraFrameDecoder::CameraFrameDecoder() : decompressor_(tjInitDecompress()) {}

CameraFrameDecoder::~CameraFrameDecoder() {
  if (decompressor_) tjDestroy(static_cast<tjhandle>(decompressor_));
}

std::shared_ptr<PixelBuffer> CameraFrameDecoder::decodeMjpeg(const uint8_t* data, size_t size) {
  auto handle = static_cast<tjhandle>(decompressor_);
  if (!handle || !data || size == 0) return nullptr;
  int width = 0, height = 0, subsampling = 0, colorspace = 0;
  if (tjDecompressHeader3(handle, data, size, &width, &height, &subsampling, &colorspace) != 0 ||
      width <= 0 || height <= 0 || width > 16384 || height > 16384)
    return nullptr;
  auto frame = pool_.acquire(width, height);
  if (tjDecompress2(handle, data, size, frame->bytes.data(), width, frame->stride, height,
                    TJPF_BGRA, 0) != 0 &&
      tjGetErrorCode(handle) == TJERR_FATAL)
    return nullptr;  // warnings (for example a truncated scan) still leave a usable picture
  return frame;
}

std::shared_ptr<PixelBuffer> CameraFrameDecoder::decodeYuyv(const uint8_t* data, size_t size,
                                                            int width, int height, int stride) {
  if (!data || width <= 0 || height <= 0 || stride < width * 2 ||
      size < static_cast<size_t>(stride) * (height - 1) + static_cast<size_t>(width) * 2)
    return nullptr;
  auto frame = pool_.acquire(width, height);
  // libyuv's ARGB is B, G, R, A in memory: our BGRA.
  if (libyuv::YUY2ToARGB(data, stride, frame->bytes.data(), frame->stride, width, height) != 0)
    return nullptr;
  return frame;
}

}  // namespace tavolu
