#include "platform/linux/frame_status_tracker.h"

#include <gtest/gtest.h>

namespace tavolu {
namespace {

using Changes = FrameStatusTracker::Changes;

TEST(FrameStatusTracker, FirstFrameIsCompleteThenOnlyChangesAre) {
  FrameStatusTracker t;
  EXPECT_EQ(t.next({}), FrameStatus::complete);
  EXPECT_EQ(t.next({}), FrameStatus::idle);
  struct Case {
    Changes changes;
    FrameStatus expected;
  } cases[] = {
      {{true, false, false}, FrameStatus::complete},
      {{false, true, false}, FrameStatus::complete},
      {{false, false, true}, FrameStatus::complete},
      {{false, false, false}, FrameStatus::idle},
  };
  for (const Case& c : cases) EXPECT_EQ(t.next(c.changes), c.expected);
}

TEST(FrameStatusTracker, DroppedCompleteFrameKeepsTheNextOneComplete) {
  FrameStatusTracker t;
  t.next({});
  EXPECT_EQ(t.next({.damaged = true}), FrameStatus::complete);
  t.dropped(FrameStatus::complete);
  EXPECT_EQ(t.next({}), FrameStatus::complete);  // carries the lost change
  EXPECT_EQ(t.next({}), FrameStatus::idle);

  // A lost first frame and a lost idle frame.
  FrameStatusTracker u;
  u.dropped(u.next({}));
  EXPECT_EQ(u.next({}), FrameStatus::complete);
  u.dropped(u.next({}));
  EXPECT_EQ(u.next({}), FrameStatus::idle);
}

}  // namespace
}  // namespace tavolu
