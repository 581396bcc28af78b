#include "capture/preview/preview_frame_encoder.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cmath>

#include "capture/main/event_channel.h"

extern "C" {
#include <libavutil/base64.h>
#include <libswscale/swscale.h>
}

namespace tavolu {
namespace {

constexpr int kPlaneAlign = 32;

int alignUp(int n) { return (n + kPlaneAlign - 1) / kPlaneAlign * kPlaneAlign; }

// Releases the gate when the encode job ends, however it ends.
struct GateRelease {
  PreviewGate& gate;
  ~GateRelease() { gate.release(); }
};

}  // namespace

PreviewSize previewSize(int width, int height, int cap) {
  if (width <= 0 || height <= 0) return {};
  double scale = std::min(static_cast<double>(cap) / std::min(width, height), 1.0);
  auto side = [scale](int n) { return std::max(1, static_cast<int>(std::lround(n * scale))); };
  return {side(width), side(height)};
}

JpegPreviewRenderer::JpegPreviewRenderer() : compressor_(tjInitCompress()) {}

JpegPreviewRenderer::~JpegPreviewRenderer() {
  if (compressor_) tjDestroy(static_cast<tjhandle>(compressor_));
  sws_freeContext(scaler_);
}

bool JpegPreviewRenderer::prepareScaler(int width, int height, PreviewSize out) {
  if (scaler_ && scalerInWidth_ == width && scalerInHeight_ == height &&
      scalerOut_.width == out.width && scalerOut_.height == out.height)
    return true;
  sws_freeContext(scaler_);
  scaler_ = sws_getContext(width, height, AV_PIX_FMT_BGRA, out.width, out.height,
                           AV_PIX_FMT_YUV420P, SWS_LANCZOS, nullptr, nullptr, nullptr);
  if (!scaler_) return false;
  // JPEG (JFIF) stores full-range BT.601 YCbCr.
  const int* coefficients = sws_getCoefficients(SWS_CS_ITU601);
  sws_setColorspaceDetails(scaler_, coefficients, 1, coefficients, 1, 0, 1 << 16, 1 << 16);
  scalerInWidth_ = width;
  scalerInHeight_ = height;
  scalerOut_ = out;
  return true;
}

std::vector<uint8_t> JpegPreviewRenderer::renderJpeg(const PixelBuffer& frame, int cap,
                                                     double quality) {
  if (!compressor_ || frame.width <= 0 || frame.height <= 0 || frame.stride < frame.width * 4 ||
      frame.bytes.size() < static_cast<size_t>(frame.stride) * frame.height || cap <= 0)
    return {};
  PreviewSize out = previewSize(frame.width, frame.height, cap);
  if (!prepareScaler(frame.width, frame.height, out)) return {};

  int chromaWidth = (out.width + 1) / 2, chromaHeight = (out.height + 1) / 2;
  int strides[3] = {alignUp(out.width), alignUp(chromaWidth), alignUp(chromaWidth)};
  size_t lumaSize = static_cast<size_t>(strides[0]) * out.height;
  size_t chromaSize = static_cast<size_t>(strides[1]) * chromaHeight;
  planes_.resize(lumaSize + 2 * chromaSize + kPlaneAlign);
  uint8_t* base = planes_.data();
  uint8_t* dst[3] = {base, base + lumaSize, base + lumaSize + chromaSize};

  const uint8_t* src[1] = {frame.bytes.data()};
  int srcStride[1] = {frame.stride};
  if (sws_scale(scaler_, src, srcStride, 0, frame.height, dst, strides) != out.height) return {};

  const unsigned char* yuv[3] = {dst[0], dst[1], dst[2]};
  unsigned char* jpeg = nullptr;
  unsigned long jpegSize = 0;
  int q = std::clamp(static_cast<int>(std::lround(quality * 100)), 1, 100);
  int rc = tjCompressFromYUVPlanes(static_cast<tjhandle>(compressor_), yuv, out.width, strides,
                                   out.height, TJSAMP_420, &jpeg, &jpegSize, q, 0);
  std::vector<uint8_t> result;
  if (rc == 0 && jpeg) result.assign(jpeg, jpeg + jpegSize);
  tjFree(jpeg);
  return result;
}

std::string base64Encode(const std::vector<uint8_t>& bytes) {
  if (bytes.size() > static_cast<size_t>((INT32_MAX / 4) * 3 - 3)) return {};
  std::string out(AV_BASE64_SIZE(bytes.size()), '\0');
  if (!av_base64_encode(out.data(), static_cast<int>(out.size()), bytes.data(),
                        static_cast<int>(bytes.size())))
    return {};
  out.resize(std::char_traits<char>::length(out.c_str()));
  return out;
}

void encodePreviewFrame(const PixelBufferRef& frame, PreviewRenderer& context, PreviewGate& gate,
                        int cap, double quality, const std::string& eventName) {
  GateRelease release{gate};
  if (!frame) return;
  std::vector<uint8_t> jpeg;
  try {
    jpeg = context.renderJpeg(*frame, cap, quality);
  } catch (const std::exception&) {
    return;  // no JPEG: no event
  }
  if (jpeg.empty()) return;
  emit(Json{{"event", eventName}, {"jpeg", base64Encode(jpeg)}});
}

}  // namespace tavolu
