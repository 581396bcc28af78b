#include "segment/video/frame_scaler.h"

extern "C" {
#include <libavutil/pixdesc.h>
}
#include <libyuv/rotate.h>
#include <libyuv/rotate_argb.h>

namespace tavolu::segment {

void Image::resize(int w, int h, int c) {
  width = w, height = h, channels = c;
  stride = (w * c + 63) & ~63;  // aligned rows for the vector code of libswscale and libyuv
  pixels.resize(static_cast<size_t>(stride) * h + 64);
}

FrameScaler::FrameScaler(int clockwiseRotation, int guideWidth, int guideHeight, int modelWidth,
                         int modelHeight)
    : rotation_(clockwiseRotation),
      guideWidth_(guideWidth),
      guideHeight_(guideHeight),
      modelWidth_(modelWidth),
      modelHeight_(modelHeight) {}

void FrameScaler::scaleOne(const AVFrame* frame, SwsPtr& context, AVPixelFormat format, int flags,
                           Image& upright) {
  const int channels = format == AV_PIX_FMT_GRAY8 ? 1 : 4;
  const bool sideways = rotation_ == 90 || rotation_ == 270;
  const int w = sideways ? upright.height : upright.width;
  const int h = sideways ? upright.width : upright.height;
  Image& target = rotation_ == 0 ? upright : staging_;
  if (rotation_ != 0) target.resize(w, h, channels);
  context.reset(sws_getCachedContext(context.release(), frame->width, frame->height,
                                     static_cast<AVPixelFormat>(frame->format), w, h, format, flags,
                                     nullptr, nullptr, nullptr));
  if (!context)
    throw Error("FFmpeg", AVERROR(EINVAL),
                std::string("Cannot convert ") +
                    (av_get_pix_fmt_name(static_cast<AVPixelFormat>(frame->format)) ?: "unknown") +
                    " pictures for segmentation.");
  uint8_t* dst[4] = {target.pixels.data()};
  int dstStride[4] = {target.stride};
  avCheck(sws_scale(context.get(), frame->data, frame->linesize, 0, frame->height, dst, dstStride),
          "Cannot scale a video picture");
  if (rotation_ == 0) return;
  const auto mode = static_cast<libyuv::RotationMode>(rotation_);
  if (channels == 1)
    libyuv::RotatePlane(target.pixels.data(), target.stride, upright.pixels.data(), upright.stride,
                        w, h, mode);
  else
    libyuv::ARGBRotate(target.pixels.data(), target.stride, upright.pixels.data(), upright.stride,
                       w, h, mode);
}

void FrameScaler::scale(const AVFrame* frame, Image& guide, Image& model) {
  guide.resize(guideWidth_, guideHeight_, 1);
  model.resize(modelWidth_, modelHeight_, 4);
  scaleOne(frame, lumaContext_, AV_PIX_FMT_GRAY8, SWS_BILINEAR, guide);
  scaleOne(frame, colourContext_, AV_PIX_FMT_RGB0, SWS_AREA, model);
}

}  // namespace tavolu::segment
