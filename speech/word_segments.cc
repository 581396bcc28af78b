#include "speech/word_segments.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace tavolu::speech {

std::string spokenWord(std::string_view entry) {
  if (entry.empty() || entry.front() == '<' || entry.front() == '[' || entry.front() == '+')
    return {};
  // Alternate pronunciations carry their number in brackets at the end.
  if (entry.back() == ')') {
    size_t open = entry.rfind('(');
    if (open != std::string_view::npos && open > 0 && open + 2 < entry.size() &&
        std::all_of(entry.begin() + static_cast<long>(open) + 1, entry.end() - 1,
                    [](unsigned char c) { return std::isdigit(c); }))
      entry = entry.substr(0, open);
  }
  return std::string(entry);
}

std::optional<Segment> wordSegment(std::string_view entry, int startFrame, int endFrame,
                                   double offsetSeconds, int framesPerSecond) {
  std::string word = spokenWord(entry);
  if (word.empty() || framesPerSecond <= 0) return std::nullopt;
  // Frames are 10 ms apart: whole milliseconds say all there is and print cleanly.
  auto ms = [](double seconds) { return std::round(seconds * 1000) / 1000; };
  const double rate = framesPerSecond;
  return Segment{std::move(word), ms(offsetSeconds + startFrame / rate),
                 ms(std::max(0, endFrame - startFrame + 1) / rate)};
}

}  // namespace tavolu::speech
