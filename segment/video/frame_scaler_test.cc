// Both conversion paths (libyuv for 4:2:0, libswscale for the rest) turn pictures upright and
// give full-range luma.
#include "segment/video/frame_scaler.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace tavolu::segment {
namespace {

// A 16x8 picture whose top-left 8x4 quarter is white and the rest black.
FramePtr quarterPicture(AVPixelFormat format) {
  FramePtr f(av_frame_alloc());
  f->format = format;
  f->width = 16;
  f->height = 8;
  EXPECT_EQ(av_frame_get_buffer(f.get(), 0), 0);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 16; ++x) {
      const bool white = x < 8 && y < 4;
      if (format == AV_PIX_FMT_RGB24) {
        for (int c = 0; c < 3; ++c) f->data[0][y * f->linesize[0] + 3 * x + c] = white ? 255 : 0;
      } else {
        f->data[0][y * f->linesize[0] + x] = white ? 235 : 16;  // video range
      }
    }
  if (format == AV_PIX_FMT_YUV420P)
    for (int p = 1; p < 3; ++p)
      for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x) f->data[p][y * f->linesize[p] + x] = 128;
  return f;
}

// Which quarter of an image is bright: 0 top-left, 1 top-right, 2 bottom-left, 3 bottom-right.
int brightQuarter(const Image& img, int channel) {
  int found = -1;
  for (int q = 0; q < 4; ++q) {
    const int x0 = (q % 2) * img.width / 2, y0 = (q / 2) * img.height / 2;
    long sum = 0;
    for (int y = y0; y < y0 + img.height / 2; ++y)
      for (int x = x0; x < x0 + img.width / 2; ++x) sum += img.row(y)[x * img.channels + channel];
    const long mean = sum / (img.width / 2 * img.height / 2);
    if (mean > 200)
      found = found == -1 ? q : 9;
    else if (mean > 50)
      return 8;  // neither bright nor dark
  }
  return found;
}

TEST(FrameScaler, TurnsPicturesUprightOnBothPaths) {
  struct Case {
    int rotation, quarter;
  } cases[] = {{0, 0}, {90, 1}, {180, 3}, {270, 2}};
  for (AVPixelFormat format : {AV_PIX_FMT_YUV420P, AV_PIX_FMT_RGB24}) {
    FramePtr frame = quarterPicture(format);
    for (const Case& c : cases) {
      SCOPED_TRACE(std::to_string(c.rotation) + " " + av_get_pix_fmt_name(format));
      const bool sideways = c.rotation % 180 != 0;
      // Upright sizes: a sideways 16x8 picture stands 8 wide and 16 high.
      FrameScaler scaler(c.rotation, sideways ? 32 : 64, sideways ? 64 : 32, sideways ? 8 : 16,
                         sideways ? 16 : 8);
      Image guide, model;
      scaler.scale(frame.get(), guide, model);
      EXPECT_EQ(guide.width, sideways ? 32 : 64);
      EXPECT_EQ(model.height, sideways ? 16 : 8);
      EXPECT_EQ(brightQuarter(guide, 0), c.quarter);
      EXPECT_EQ(brightQuarter(model, 0), c.quarter);  // red
      EXPECT_EQ(brightQuarter(model, 2), c.quarter);  // blue
      // Video-range 16..235 luma comes out as full-range 0..255: a dark bottom corner is 0.
      const int darkX = c.quarter == 3 ? 0 : guide.width - 1;
      EXPECT_LE(guide.row(guide.height - 1)[darkX], 2);
    }
  }
}

}  // namespace
}  // namespace tavolu::segment
