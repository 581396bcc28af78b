#include "capture/sinks/audio_timeline.h"

#include <gtest/gtest.h>

namespace tavolu {
namespace {

TEST(AudioTimeline, FillsGapsAndCutsOverlapsBeyondTheTolerance) {
  struct Step {
    int64_t start, frames;
    int64_t silence, skip;
  };
  struct Case {
    const char* name;
    std::vector<Step> steps;
    int64_t position;
  } cases[] = {
      {"contiguous", {{0, 480, 0, 0}, {480, 480, 0, 0}}, 960},
      {"first buffer after the origin starts with silence", {{100, 480, 100, 0}}, 580},
      {"first buffer before the origin is cut", {{-100, 480, 0, 100}}, 380},
      {"first buffer wholly before the origin", {{-900, 480, 0, 480}, {0, 10, 0, 0}}, 10},
      {"jitter within the tolerance is absorbed",
       {{0, 480, 0, 0}, {480 + 900, 480, 0, 0}, {960 - 900, 480, 0, 0}},
       1440},
      {"gap beyond the tolerance becomes silence", {{0, 480, 0, 0}, {5280, 480, 4800, 0}}, 5760},
      {"overlap beyond the tolerance is cut", {{0, 4800, 0, 0}, {2800, 4800, 0, 2000}}, 7600},
      {"buffer wholly inside what was written", {{0, 4800, 0, 0}, {1000, 480, 0, 480}}, 4800},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    AudioTimeline timeline(960);
    for (const auto& s : c.steps) {
      auto p = timeline.place(s.start, s.frames);
      EXPECT_EQ(p.silence, s.silence) << s.start;
      EXPECT_EQ(p.skip, s.skip) << s.start;
    }
    EXPECT_EQ(timeline.position(), c.position);
  }
}

}  // namespace
}  // namespace tavolu
