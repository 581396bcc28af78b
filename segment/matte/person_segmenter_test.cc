#include "segment/matte/person_segmenter.h"

#include <gtest/gtest.h>

#include "platform/error.h"

namespace tavolu::segment {
namespace {

TEST(PersonSegmenter, PicksTheModelThatStretchesThePictureLeast) {
  EXPECT_STREQ(modelFileFor(1920, 1080), kLandscapeModelFile);
  EXPECT_STREQ(modelFileFor(1280, 720), kLandscapeModelFile);
  EXPECT_STREQ(modelFileFor(640, 480), kSquareModelFile);  // 4:3 sits just on the square side
  EXPECT_STREQ(modelFileFor(512, 512), kSquareModelFile);
  EXPECT_STREQ(modelFileFor(1080, 1920), kSquareModelFile);
}

TEST(PersonSegmenter, RealModelsLoadWithTheirDocumentedShapes) {
  const std::string dir = TAVOLU_SEGMENT_DEFAULT_MODEL_DIR;
  WorkerPool pool(1);
  struct Case {
    const char* file;
    int w, h;
  } cases[] = {{kSquareModelFile, 256, 256}, {kLandscapeModelFile, 256, 144}};
  for (const Case& c : cases) {
    try {
      PersonSegmenter segmenter(dir + "/" + c.file, pool);
      EXPECT_EQ(segmenter.inputWidth(), c.w);
      EXPECT_EQ(segmenter.inputHeight(), c.h);
      EXPECT_EQ(segmenter.maskWidth(), c.w);
      EXPECT_EQ(segmenter.maskHeight(), c.h);
      // A plain grey picture has no person in it.
      std::vector<uint8_t> grey(static_cast<size_t>(c.w) * c.h * 4, 128);
      const uint8_t* mask = segmenter.run(grey.data(), c.w * 4);
      long long sum = 0;
      for (int i = 0; i < c.w * c.h; ++i) sum += mask[i];
      EXPECT_LT(sum / (c.w * c.h), 40) << c.file;
    } catch (const Error& e) {
      if (e.code() != 1) throw;
      GTEST_SKIP() << "model not installed (scripts/setup): " << e.description();
    }
  }
}

}  // namespace
}  // namespace tavolu::segment
