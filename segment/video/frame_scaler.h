// Turns a decoded picture into what one matte frame needs, both shown upright: the luma at the
// matte's size (the upsampler's guide) and the colour picture at the model's input size.
#pragma once

#include <cstdint>
#include <vector>

#include "segment/video/av_holders.h"

namespace tavolu::segment {

// An 8-bit image with `channels` bytes per pixel.
struct Image {
  int width = 0, height = 0, channels = 1, stride = 0;
  std::vector<uint8_t> pixels;
  void resize(int w, int h, int c);
  uint8_t* row(int y) { return pixels.data() + static_cast<size_t>(y) * stride; }
  const uint8_t* row(int y) const { return pixels.data() + static_cast<size_t>(y) * stride; }
};

class FrameScaler {
 public:
  // `clockwiseRotation` (0, 90, 180, 270) turns a decoded picture upright; the sizes are those
  // of the upright results.
  FrameScaler(int clockwiseRotation, int guideWidth, int guideHeight, int modelWidth,
              int modelHeight);
  // Fills `guide` (luma, 1 byte per pixel) and `model` (R, G, B, unused: 4 bytes per pixel).
  void scale(const AVFrame* frame, Image& guide, Image& model);

 private:
  // The common camera case, through libyuv; false when the picture is in another format.
  bool scaleYuv420(const AVFrame* frame, Image& guide, Image& model);
  // Where a picture of the upright one's size goes before it is turned (itself if no turn).
  Image& stage(Image& upright);
  // Turns a staged picture into its upright place.
  void turn(Image& staged, Image& upright) const;
  void scaleOne(const AVFrame* frame, SwsPtr& context, AVPixelFormat format, int flags,
                Image& upright);

  int rotation_;
  Image staging_;               // before turning, when the picture needs it
  std::vector<uint8_t> small_;  // the three planes shrunk to the model's size
  uint8_t fullRangeLuma_[256];
  SwsPtr lumaContext_, colourContext_;
  int guideWidth_, guideHeight_, modelWidth_, modelHeight_;
};

}  // namespace tavolu::segment
