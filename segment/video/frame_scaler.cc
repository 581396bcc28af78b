#include "segment/video/frame_scaler.h"

extern "C" {
#include <libavutil/pixdesc.h>
}
#include <libyuv/convert_argb.h>
#include <libyuv/rotate.h>
#include <libyuv/rotate_argb.h>
#include <libyuv/scale.h>

#include <algorithm>

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
      modelHeight_(modelHeight) {
  for (int v = 0; v < 256; ++v)
    fullRangeLuma_[v] = static_cast<uint8_t>(std::clamp((v - 16) * 255 / 219, 0, 255));
}

Image& FrameScaler::stage(Image& upright) {
  if (rotation_ == 0) return upright;
  const bool sideways = rotation_ == 90 || rotation_ == 270;
  staging_.resize(sideways ? upright.height : upright.width,
                  sideways ? upright.width : upright.height, upright.channels);
  return staging_;
}

void FrameScaler::turn(Image& staged, Image& upright) const {
  if (rotation_ == 0) return;
  const auto mode = static_cast<libyuv::RotationMode>(rotation_);
  if (upright.channels == 1)
    libyuv::RotatePlane(staged.pixels.data(), staged.stride, upright.pixels.data(), upright.stride,
                        staged.width, staged.height, mode);
  else
    libyuv::ARGBRotate(staged.pixels.data(), staged.stride, upright.pixels.data(), upright.stride,
                       staged.width, staged.height, mode);
}

void FrameScaler::scaleOne(const AVFrame* frame, SwsPtr& context, AVPixelFormat format, int flags,
                           Image& upright) {
  Image& target = stage(upright);
  context.reset(sws_getCachedContext(context.release(), frame->width, frame->height,
                                     static_cast<AVPixelFormat>(frame->format), target.width,
                                     target.height, format, flags, nullptr, nullptr, nullptr));
  if (!context)
    throw Error("FFmpeg", AVERROR(EINVAL),
                std::string("Cannot convert ") +
                    (av_get_pix_fmt_name(static_cast<AVPixelFormat>(frame->format)) ?: "unknown") +
                    " pictures for segmentation.");
  uint8_t* dst[4] = {target.pixels.data()};
  int dstStride[4] = {target.stride};
  avCheck(sws_scale(context.get(), frame->data, frame->linesize, 0, frame->height, dst, dstStride),
          "Cannot scale a video picture");
  turn(target, upright);
}

bool FrameScaler::scaleYuv420(const AVFrame* frame, Image& guide, Image& model) {
  if (frame->format != AV_PIX_FMT_YUV420P && frame->format != AV_PIX_FMT_YUVJ420P) return false;
  if (frame->linesize[0] < 0 || frame->linesize[1] < 0 || frame->linesize[2] < 0) return false;
  const bool fullRange =
      frame->format == AV_PIX_FMT_YUVJ420P || frame->color_range == AVCOL_RANGE_JPEG;

  // Luma straight from the Y plane, stretched to full range where the video stores 16..235.
  Image& g = stage(guide);
  libyuv::ScalePlane(frame->data[0], frame->linesize[0], frame->width, frame->height,
                     g.pixels.data(), g.stride, g.width, g.height, libyuv::kFilterBilinear);
  if (!fullRange) {
    for (int y = 0; y < g.height; ++y) {
      uint8_t* row = g.row(y);
      for (int x = 0; x < g.width; ++x) row[x] = fullRangeLuma_[row[x]];
    }
  }
  turn(g, guide);

  // Colour: shrink the three planes first, then convert only the small picture.
  Image& m = stage(model);
  const int mw = m.width, mh = m.height, cw = (mw + 1) / 2, ch = (mh + 1) / 2;
  small_.resize(static_cast<size_t>(mw) * mh + 2 * static_cast<size_t>(cw) * ch);
  uint8_t* sy = small_.data();
  uint8_t* su = sy + static_cast<size_t>(mw) * mh;
  uint8_t* sv = su + static_cast<size_t>(cw) * ch;
  if (libyuv::I420Scale(frame->data[0], frame->linesize[0], frame->data[1], frame->linesize[1],
                        frame->data[2], frame->linesize[2], frame->width, frame->height, sy, mw, su,
                        cw, sv, cw, mw, mh, libyuv::kFilterBox) != 0)
    return false;
  // libyuv's "ABGR" is R, G, B, A in memory order.
  (fullRange ? libyuv::J420ToABGR : libyuv::I420ToABGR)(sy, mw, su, cw, sv, cw, m.pixels.data(),
                                                        m.stride, mw, mh);
  turn(m, model);
  return true;
}

void FrameScaler::scale(const AVFrame* frame, Image& guide, Image& model) {
  guide.resize(guideWidth_, guideHeight_, 1);
  model.resize(modelWidth_, modelHeight_, 4);
  if (scaleYuv420(frame, guide, model)) return;
  scaleOne(frame, lumaContext_, AV_PIX_FMT_GRAY8, SWS_BILINEAR, guide);
  scaleOne(frame, colourContext_, AV_PIX_FMT_RGB0, SWS_AREA, model);
}

}  // namespace tavolu::segment
