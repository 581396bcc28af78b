#include "capture/preview/camera_commands.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "capture/preview/camera_preview.h"
#include "capture/preview/event_capture_for_test.h"
#include "capture/preview/preview_test_doubles.h"
#include "platform/fake_camera.h"

namespace tavolu {
namespace {

using Request = std::optional<std::optional<std::string>>;

TEST(CameraCommands, LinesBecomeRequestsOrAreIgnored) {
  const Request ignored = std::nullopt;
  const Request off = std::optional<std::string>();
  struct Case {
    std::string line;
    Request request;
  } cases[] = {
      {R"({"camera":"usb-Acme-video-index0"})",
       std::optional<std::string>("usb-Acme-video-index0")},
      {R"({"camera":""})", std::optional<std::string>("")},
      {R"( {"camera" : "A", "other": 1} )", std::optional<std::string>("A")},
      {R"({"camera":"A"})"
       "\r",
       std::optional<std::string>("A")},
      {R"({"camera":null})", off},
      {R"({"camera":7})", off},
      {R"({"camera":["A"]})", off},
      {R"({})", off},
      {R"(["camera","A"])", ignored},
      {R"("A")", ignored},
      {R"(7)", ignored},
      {"camera A", ignored},
      {"", ignored},
      {R"({"camera":"A")", ignored},
      {"{\"camera\":\"\xff\"}", ignored},  // not UTF-8
  };
  for (const auto& c : cases) EXPECT_EQ(parseCameraRequest(c.line), c.request) << c.line;
}

// Access answers are held back, so what the reader hands over is all that happens, however fast
// it reads.
class CameraCommandsReader : public ::testing::Test {
 protected:
  CameraCommandsReader() {
    cameras.setDevices({{"A", "Cam A"}});
    cameras.holdAccessAnswers(true);
    preview = std::make_unique<CameraPreview>(cameras, std::make_unique<test::ScriptedRenderer>(),
                                              CameraPreview::Options{std::chrono::hours(1)});
  }
  std::vector<Json> read(const std::string& input) {
    FILE* in = fmemopen(const_cast<char*>(input.data()), input.size(), "r");
    readCameraCommands(*preview, in);
    std::fclose(in);
    return events.events();
  }

  test::EventCapture events;
  FakeCameras cameras;
  std::unique_ptr<CameraPreview> preview;
};

Json setLog(const std::string& id) {
  return {{"event", "preview-log"}, {"message", "set " + id + " auth=3"}};
}
const Json kOff = {{"event", "preview"}, {"state", "off"}};

TEST_F(CameraCommandsReader, IgnoredLinesDoNothingAndEndOfInputTurnsTheCameraOff) {
  // The last line has no line feed; a repeat before the camera opened starts over.
  EXPECT_EQ(read("{\"camera\":\"A\"}\n[1]\nhello\n\n{\"camera\":\"A\"}"),
            (std::vector<Json>{setLog("A"), setLog("A"), kOff}));
}

TEST_F(CameraCommandsReader, EndOfInputWithNoCameraWantedWritesNothing) {
  EXPECT_EQ(read("{\"camera\":\"A\"}\n{\"camera\":7}\n{}\n"),
            (std::vector<Json>{setLog("A"), kOff}));
  EXPECT_TRUE(read("").empty());
}

}  // namespace
}  // namespace tavolu
