// Test helper: writes 16-bit PCM WAV files, so tests make their audio without other tools.
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace tavolu::speech::test {

inline void writeWav(const std::string& path, const std::vector<int16_t>& interleaved, int rate,
                     int channels) {
  auto u32 = [](std::ofstream& f, uint32_t v) { f.write(reinterpret_cast<char*>(&v), 4); };
  auto u16 = [](std::ofstream& f, uint16_t v) { f.write(reinterpret_cast<char*>(&v), 2); };
  const uint32_t bytes = static_cast<uint32_t>(interleaved.size() * 2);
  std::ofstream f(path, std::ios::binary);
  f.write("RIFF", 4);
  u32(f, 36 + bytes);
  f.write("WAVEfmt ", 8);
  u32(f, 16);
  u16(f, 1);
  u16(f, static_cast<uint16_t>(channels));
  u32(f, static_cast<uint32_t>(rate));
  u32(f, static_cast<uint32_t>(rate * channels * 2));
  u16(f, static_cast<uint16_t>(channels * 2));
  u16(f, 16);
  f.write("data", 4);
  u32(f, bytes);
  f.write(reinterpret_cast<const char*>(interleaved.data()), bytes);
}

// The raw 16 kHz mono recordings of the PocketSphinx test data.
inline std::vector<int16_t> readRaw(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  std::vector<int16_t> samples(bytes.size() / 2);
  std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
  return samples;
}

}  // namespace tavolu::speech::test
