// Reads any audio file FFmpeg can open and hands it out as 16 kHz mono 16-bit samples, block by
// block, so long recordings never sit in memory whole.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tavolu::speech {

class AudioDecoder {
 public:
  static constexpr int kSampleRate = 16000;

  // Opens the first audio stream of `path`; throws tavolu::Error (domain "Speech") when the
  // file cannot be opened or holds no decodable audio.
  explicit AudioDecoder(const std::string& path);
  ~AudioDecoder();
  AudioDecoder(const AudioDecoder&) = delete;
  AudioDecoder& operator=(const AudioDecoder&) = delete;

  // Appends the next samples to `out`; false once all audio has been returned. Throws
  // tavolu::Error when reading fails.
  bool read(std::vector<int16_t>& out);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tavolu::speech
