#include "speech/recognition_timeout.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace tavolu::speech {

std::chrono::steady_clock::duration recognitionTimeout(const char* override) {
  if (!override || !*override) return kRecognitionTimeout;
  double seconds = 0;
  const char* end = override + std::strlen(override);
  auto [ptr, ec] = std::from_chars(override, end, seconds);
  // Only ever shorter than the standard limit, never a way to run unbounded.
  if (ec != std::errc() || ptr != end || !std::isfinite(seconds) || seconds < 0 ||
      seconds > std::chrono::duration<double>(kRecognitionTimeout).count())
    return kRecognitionTimeout;
  return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(seconds));
}

}  // namespace tavolu::speech
