// Turns the recogniser's word hypotheses into caption segments.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "speech/recognizer.h"

namespace tavolu::speech {

// The spoken word of a dictionary entry: "read(2)" -> "read"; empty for sentence markers,
// silence and filler tokens ("<s>", "<sil>", "[NOISE]", "++UM++").
std::string spokenWord(std::string_view entry);

// A segment for a recognised entry spanning frames [startFrame, endFrame] (inclusive) of an
// utterance that starts `offsetSeconds` into the audio; nothing for a non-word.
std::optional<Segment> wordSegment(std::string_view entry, int startFrame, int endFrame,
                                   double offsetSeconds, int framesPerSecond);

}  // namespace tavolu::speech
