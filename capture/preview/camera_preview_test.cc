#include "capture/preview/camera_preview.h"

#include <gtest/gtest.h>

#include "capture/preview/event_capture_for_test.h"
#include "capture/preview/preview_test_doubles.h"
#include "platform/fake_camera.h"

namespace tavolu {
namespace {

using std::chrono::milliseconds;

Json log(const std::string& message) { return {{"event", "preview-log"}, {"message", message}}; }
Json state(const std::string& s, Json extra = Json::object()) {
  extra["event"] = "preview";
  extra["state"] = s;
  return extra;
}
// The events of a camera that opens normally.
std::vector<Json> opening(const std::string& id, const std::string& name) {
  return {
      log("set " + id + " auth=3"),        log("access true"),
      state("starting", {{"name", name}}), log("device " + name + " inUse=false suspended=false"),
      log("startRunning\u2026"),           log("startRunning returned running=true")};
}
std::vector<Json> concat(std::vector<Json> a, const std::vector<Json>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class CameraPreviewTest : public ::testing::Test {
 protected:
  explicit CameraPreviewTest(CameraPreview::Options options = {std::chrono::hours(1)}) {
    cameras.setDevices({{"A", "Cam A"}, {"B", "Cam B"}});
    auto r = std::make_unique<test::ScriptedRenderer>();
    renderer = r.get();
    preview = std::make_unique<CameraPreview>(cameras, std::move(r), options);
  }
  // The events so far, once every request handed over has been handled.
  std::vector<Json> settle() {
    preview->flush();  // the requests, which hand their access step to the queue
    preview->flush();  // the access steps
    return events.events();
  }
  void request(std::optional<std::string> camera) { preview->set(std::move(camera)); }

  test::EventCapture events;
  FakeCameras cameras;
  test::ScriptedRenderer* renderer;
  std::unique_ptr<CameraPreview> preview;
};

TEST_F(CameraPreviewTest, MissingIdLogsTheRequestAndAccessThenMissing) {
  request("X");
  EXPECT_EQ(settle(),
            (std::vector<Json>{log("set X auth=3"), log("access true"), state("missing")}));
  EXPECT_EQ(cameras.openCount(), 0);
}

TEST_F(CameraPreviewTest, RefusedAccessIsDenied) {
  cameras.setAuthorization(CameraAuthorization::denied, false);
  request("A");
  EXPECT_EQ(settle(),
            (std::vector<Json>{log("set A auth=2"), log("access false"), state("denied")}));
  EXPECT_EQ(cameras.openCount(), 0);
}

TEST_F(CameraPreviewTest, OpensGoesLiveOnTheFirstFrameAndSendsFrames) {
  request("A");
  EXPECT_EQ(settle(), opening("A", "Cam A"));
  auto feed = cameras.feed("A");
  ASSERT_TRUE(feed && feed->started());
  events.clear();

  ASSERT_TRUE(feed->deliverFrame(1920, 1080));
  renderer->waitForCalls(1);
  preview->flush();  // the first frame has been handled, so the next one is not discarded
  ASSERT_TRUE(feed->deliverFrame(1920, 1080));
  auto isFrame = [](const Json& e) { return e["event"] == "frame"; };
  ASSERT_TRUE(events.waitForCount(isFrame, 2));
  auto lines = events.events();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], state("live"));
  EXPECT_EQ(lines[1], log("first frame 1920x1080"));
  // The encode job writes its own line; the "live" and log lines come first.
  EXPECT_EQ(lines[2], (Json{{"event", "frame"}, {"jpeg", "AQID"}}));
  EXPECT_EQ(lines[3], lines[2]);
  EXPECT_EQ(renderer->lastCap, 720);
  EXPECT_DOUBLE_EQ(renderer->lastQuality, 0.8);
}

TEST_F(CameraPreviewTest, RepeatingTheOpenCameraDoesNothingAndOffIsReportedOnce) {
  request("A");
  settle();
  events.clear();
  request("A");
  EXPECT_TRUE(settle().empty());
  EXPECT_EQ(cameras.openCount(), 1);

  request(std::nullopt);
  EXPECT_EQ(settle(), std::vector<Json>{state("off")});
  EXPECT_TRUE(cameras.feed("A")->stopped());
  request(std::nullopt);
  EXPECT_TRUE(settle().empty());
}

TEST_F(CameraPreviewTest, OpenFailuresAreReportedAndARepeatRetries) {
  struct Case {
    Error error;
    Json expected;
  } cases[] = {
      {cameraError(CameraErrorCode::inUse, "The camera Cam A is in use by another application."),
       state("in-use", {{"message", "The camera Cam A is in use by another application."}})},
      {cameraError(CameraErrorCode::failed, "The camera Cam A could not be started (x)."),
       state("in-use", {{"message", "The camera Cam A could not be started (x)."}})},
      {cameraError(CameraErrorCode::denied, "Access refused."), state("denied")},
      {cameraError(CameraErrorCode::disconnected, "The selected camera is disconnected."),
       state("missing")},
  };
  for (const auto& c : cases) {
    cameras.setOpenError("A", c.error);
    request("A");
    auto lines = settle();
    ASSERT_EQ(lines.size(), 5u) << c.expected;
    EXPECT_EQ(lines[0], log("set A auth=3"));  // a failed camera is tried again from the start
    EXPECT_EQ(lines[2], state("starting", {{"name", "Cam A"}}));
    EXPECT_EQ(lines[4], c.expected);
    events.clear();
  }
  cameras.setOpenError("A", std::nullopt);
  request("A");
  EXPECT_EQ(settle(), opening("A", "Cam A"));
}

TEST_F(CameraPreviewTest, SwitchingBeforeTheAccessAnswerOpensOnlyTheNewCamera) {
  cameras.holdAccessAnswers(true);
  request("A");
  request("B");
  preview->flush();
  cameras.releaseAccess();
  auto lines = settle();
  auto expected =
      concat({log("set A auth=3"), log("set B auth=3"), log("access true")}, opening("B", "Cam B"));
  expected.erase(expected.begin() + 3);  // B's own "set" line is already listed
  EXPECT_EQ(lines, expected);
  EXPECT_EQ(cameras.openCount(), 1);
  EXPECT_FALSE(cameras.feed("A"));
}

TEST_F(CameraPreviewTest, SwitchingCamerasStopsTheFirstAndIgnoresItsLateFrames) {
  request("A");
  settle();
  auto a = cameras.feed("A");
  request("B");
  settle();
  EXPECT_TRUE(a->stopped());
  EXPECT_FALSE(a->deliverFrame(640, 480));
  a->disconnect();
  events.clear();
  ASSERT_TRUE(cameras.feed("B")->deliverFrame(640, 480));
  renderer->waitForCalls(1);
  auto lines = settle();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], state("live"));
  EXPECT_EQ(lines[1], log("first frame 640x480"));
}

TEST_F(CameraPreviewTest, DisconnectionIsMissingAndTheSameRequestReopens) {
  request("A");
  settle();
  events.clear();
  auto feed = cameras.feed("A");
  feed->disconnect();
  EXPECT_EQ(settle(), std::vector<Json>{state("missing")});
  EXPECT_TRUE(feed->stopped());
  request("A");
  EXPECT_EQ(settle(), opening("A", "Cam A"));
  EXPECT_EQ(cameras.openCount(), 2);
}

TEST_F(CameraPreviewTest, RuntimeErrorsReportStartingOrInUse) {
  request("A");
  settle();
  events.clear();
  cameras.feed("A")->runtimeError();
  EXPECT_EQ(settle(), std::vector<Json>{state("starting")});
  cameras.setInUse("A", true);
  cameras.feed("A")->runtimeError();
  EXPECT_EQ(settle(), std::vector<Json>{state("in-use")});
  EXPECT_FALSE(cameras.feed("A")->stopped());  // the session is left alone
}

TEST_F(CameraPreviewTest, BusyEncoderDropsFrames) {
  request("A");
  settle();
  auto feed = cameras.feed("A");
  renderer->hold();
  ASSERT_TRUE(feed->deliverFrame(64, 48));
  renderer->waitForCalls(1);
  preview->flush();
  ASSERT_TRUE(feed->deliverFrame(64, 48));  // handled on the queue, gate busy: dropped
  preview->flush();
  renderer->release();
  preview->drainForTesting();
  EXPECT_EQ(renderer->calls(), 1);
  ASSERT_TRUE(feed->deliverFrame(64, 48));
  renderer->waitForCalls(2);
  preview.reset();  // waits for the encoder
  EXPECT_EQ(renderer->calls(), 2);
}

class CameraPreviewFirstFrameTest : public CameraPreviewTest {
 protected:
  CameraPreviewFirstFrameTest() : CameraPreviewTest({milliseconds(50)}) {}
  bool waitForState(const std::string& s) {
    return events.waitFor([&](const Json& e) { return e == state(s); });
  }
};

TEST_F(CameraPreviewFirstFrameTest, SilentCameraIsNoPictureThenLiveWhenFramesCome) {
  request("A");
  ASSERT_TRUE(waitForState("no-picture"));
  ASSERT_TRUE(cameras.feed("A")->deliverFrame(320, 240));
  ASSERT_TRUE(waitForState("live"));
}

TEST_F(CameraPreviewFirstFrameTest, SilentCameraHeldElsewhereIsInUse) {
  cameras.setInUse("A", true);
  request("A");
  ASSERT_TRUE(waitForState("in-use"));
  auto lines = events.events();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), state("no-picture")), 0);
}

TEST_F(CameraPreviewFirstFrameTest, TheCheckOfAnEarlierCameraStaysQuiet) {
  request("A");
  request("B");
  ASSERT_TRUE(waitForState("no-picture"));
  // A's check was due first; it must have found its generation gone.
  preview.reset();
  auto lines = events.events();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), state("no-picture")), 1);
}

}  // namespace
}  // namespace tavolu
