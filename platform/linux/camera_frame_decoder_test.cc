#include "platform/linux/camera_frame_decoder.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <cstdlib>

namespace tavolu {
namespace {

TEST(CameraFrameDecoder, YuyvGreyAndColourBecomeBgra) {
  // Two rows of 4 pixels, 12 bytes per row (4 bytes of padding): left pair mid grey, right pair
  // saturated red (BT.601 limited range: Y 81, U 90, V 240).
  std::vector<uint8_t> yuyv = {126, 128, 126, 128, 81, 90, 81, 240, 0, 0, 0, 0,
                               126, 128, 126, 128, 81, 90, 81, 240, 0, 0, 0, 0};
  CameraFrameDecoder decoder;
  auto frame = decoder.decodeYuyv(yuyv.data(), yuyv.size(), 4, 2, 12);
  ASSERT_TRUE(frame);
  ASSERT_EQ(frame->width, 4);
  ASSERT_EQ(frame->height, 2);
  const uint8_t* grey = frame->row(1);
  EXPECT_NEAR(grey[0], 128, 4);
  EXPECT_NEAR(grey[1], 128, 4);
  EXPECT_NEAR(grey[2], 128, 4);
  EXPECT_EQ(grey[3], 255);
  const uint8_t* red = frame->row(1) + 3 * 4;
  EXPECT_LT(red[0], 20);   // B
  EXPECT_LT(red[1], 20);   // G
  EXPECT_GT(red[2], 230);  // R
}

TEST(CameraFrameDecoder, ShortYuyvDataIsRefused) {
  std::vector<uint8_t> yuyv(4 * 2 * 2 - 1);
  CameraFrameDecoder decoder;
  EXPECT_FALSE(decoder.decodeYuyv(yuyv.data(), yuyv.size(), 4, 2, 8));
  EXPECT_FALSE(decoder.decodeYuyv(yuyv.data(), yuyv.size(), 4, 2, 6));  // stride too small
}

TEST(CameraFrameDecoder, MjpegDecodesAtItsOwnSizeAndDamageIsDropped) {
  // A 64x48 blue picture encoded with TurboJPEG.
  std::vector<uint8_t> bgra(64 * 48 * 4);
  for (size_t i = 0; i < bgra.size(); i += 4) {
    bgra[i] = 200;
    bgra[i + 1] = 40;
    bgra[i + 2] = 30;
    bgra[i + 3] = 255;
  }
  tjhandle handle = tjInitCompress();
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  ASSERT_EQ(
      tjCompress2(handle, bgra.data(), 64, 64 * 4, 48, TJPF_BGRA, &jpeg, &size, TJSAMP_422, 90, 0),
      0);
  std::vector<uint8_t> bytes(jpeg, jpeg + size);
  tjFree(jpeg);
  tjDestroy(handle);

  CameraFrameDecoder decoder;
  auto frame = decoder.decodeMjpeg(bytes.data(), bytes.size());
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->width, 64);
  EXPECT_EQ(frame->height, 48);
  EXPECT_NEAR(frame->row(20)[30 * 4 + 0], 200, 6);
  EXPECT_NEAR(frame->row(20)[30 * 4 + 2], 30, 6);

  std::vector<uint8_t> garbage(bytes.size(), 0x5a);
  EXPECT_FALSE(decoder.decodeMjpeg(garbage.data(), garbage.size()));
  EXPECT_FALSE(decoder.decodeMjpeg(bytes.data(), 10));  // header cut off
}

}  // namespace
}  // namespace tavolu
