// Turns recognised segments into the caption array the host reads.
#pragma once

#include <string>
#include <vector>

#include "speech/recognizer.h"

namespace tavolu::speech {

// Shortest caption, so that a word reported with no duration still shows.
inline constexpr double kMinimumCaptionSeconds = 0.05;

// The compact JSON array [{"start","end","text"}, ...] in segment order, no trailing newline.
std::string captionJson(const std::vector<Segment>& segments);

}  // namespace tavolu::speech
