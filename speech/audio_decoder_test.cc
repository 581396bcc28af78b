#include "speech/audio_decoder.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>

#include "platform/error.h"
#include "speech/wav_fixture.h"

namespace tavolu::speech {
namespace {

class AudioDecoderTest : public testing::Test {
 protected:
  std::string file(const std::string& name) {
    return (std::filesystem::temp_directory_path() /
            ("tavolu-speech-" + std::to_string(getpid()) + "-" + name))
        .string();
  }
  void TearDown() override {
    for (auto& p : made_) std::filesystem::remove(p);
  }
  std::string made(const std::string& name) { return made_.emplace_back(file(name)); }
  std::vector<std::string> made_;

  static std::vector<int16_t> readAll(AudioDecoder& d) {
    std::vector<int16_t> all, block;
    while (d.read(block)) {
      all.insert(all.end(), block.begin(), block.end());
      block.clear();
    }
    return all;
  }
};

TEST_F(AudioDecoderTest, StereoAt44kBecomesMonoAt16kWithTheSameDuration) {
  // 2 s of a 440 Hz tone, left and right equal.
  std::vector<int16_t> pcm;
  for (int i = 0; i < 2 * 44100; ++i) {
    auto v = static_cast<int16_t>(10000 * std::sin(2 * M_PI * 440 * i / 44100.0));
    pcm.push_back(v);
    pcm.push_back(v);
  }
  std::string path = made("tone.wav");
  test::writeWav(path, pcm, 44100, 2);
  AudioDecoder d(path);
  auto mono = readAll(d);
  EXPECT_NEAR(static_cast<double>(mono.size()), 32000, 40);
  // The tone keeps its level (no silence, no clipping) in the middle of the clip.
  double peak = 0;
  for (size_t i = 8000; i < 24000; ++i) peak = std::max(peak, std::abs(double(mono[i])));
  EXPECT_GT(peak, 6000);
  EXPECT_LT(peak, 14500);
  EXPECT_FALSE(d.read(mono));  // stays at the end
}

TEST_F(AudioDecoderTest, SixteenKilohertzMonoPassesThroughUnchanged) {
  std::vector<int16_t> pcm;
  for (int i = 0; i < 16000; ++i) pcm.push_back(static_cast<int16_t>((i * 37) % 2000 - 1000));
  std::string path = made("same.wav");
  test::writeWav(path, pcm, 16000, 1);
  AudioDecoder d(path);
  EXPECT_EQ(readAll(d), pcm);
}

TEST_F(AudioDecoderTest, FilesWithoutReadableAudioThrowSpeechErrors) {
  std::string text = made("notes.txt");
  std::ofstream(text) << "These are not the sounds you are looking for.\n";
  std::string empty = made("empty.m4a");
  std::ofstream(empty).flush();
  for (const std::string& path : {file("missing.m4a"), text, empty}) {
    try {
      AudioDecoder d(path);
      std::vector<int16_t> out;
      while (d.read(out)) {
      }
      ADD_FAILURE() << path << " was accepted";
    } catch (const Error& e) {
      EXPECT_EQ(e.domain(), "Speech");
      EXPECT_NE(e.localizedDescription().find(std::filesystem::path(path).filename().string()),
                std::string::npos)
          << e.localizedDescription();
    }
  }
}

}  // namespace
}  // namespace tavolu::speech
