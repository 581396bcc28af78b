// tavolu-capture --camera-preview as the host runs it: camera requests on standard input, state,
// log and frame events on standard output, with the virtual test-pattern camera.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace tavolu::test {
namespace {

using Json = nlohmann::json;

Json log(const std::string& message) { return {{"event", "preview-log"}, {"message", message}}; }
Json state(const std::string& s) { return {{"event", "preview"}, {"state", s}}; }

std::vector<uint8_t> base64Decode(const std::string& text) {
  static const std::string alphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::vector<uint8_t> out;
  int bits = 0, value = 0;
  for (char c : text) {
    if (c == '=') break;
    auto index = alphabet.find(c);
    if (index == std::string::npos) return {};
    value = ((value << 6) | static_cast<int>(index)) & 0xffffff;
    if ((bits += 6) >= 8) out.push_back(static_cast<uint8_t>(value >> (bits -= 8)));
  }
  return out;
}

// Width and height from a JPEG's start-of-frame segment, or nothing when it is not a JPEG.
std::optional<std::pair<int, int>> jpegSize(const std::vector<uint8_t>& j) {
  if (j.size() < 4 || j[0] != 0xff || j[1] != 0xd8) return std::nullopt;
  size_t i = 2;
  while (i + 9 < j.size()) {
    if (j[i] != 0xff) return std::nullopt;
    uint8_t marker = j[i + 1];
    size_t length = (j[i + 2] << 8) | j[i + 3];
    if (marker >= 0xc0 && marker <= 0xc2)
      return std::make_pair((j[i + 7] << 8) | j[i + 8], (j[i + 5] << 8) | j[i + 6]);
    i += 2 + length;
  }
  return std::nullopt;
}

class CameraPreviewMode : public ::testing::Test {
 protected:
  void SetUp() override {
    process = std::make_unique<ChildProcess>(
        std::vector<std::string>{programPath("tavolu-capture"), "--camera-preview"},
        std::map<std::string, std::string>{{"TAVOLU_VIRTUAL_CAMERA", "virtual:pattern"}});
  }
  void send(const std::string& line) { process->write(line + "\n"); }
  // The next event that is not a "frame" (frames are counted and checked on the way).
  std::optional<Json> nextNonFrame() {
    while (auto line = process->readLine(milliseconds(20000))) {
      Json event = Json::parse(*line);
      if (event.value("event", "") != "frame") return event;
      ++frames;
      auto size = jpegSize(base64Decode(event.value("jpeg", "")));
      EXPECT_TRUE(size.has_value());
      if (size) sizes.push_back(*size);
    }
    return std::nullopt;
  }
  // The next `n` non-frame events.
  std::vector<Json> next(size_t n) {
    std::vector<Json> out;
    while (out.size() < n)
      if (auto e = nextNonFrame())
        out.push_back(*e);
      else
        break;
    return out;
  }
  // Reads until `n` frames have arrived in all; returns the non-frame events met meanwhile.
  std::vector<Json> untilFrames(int n) {
    std::vector<Json> other;
    while (frames < n) {
      auto line = process->readLine(milliseconds(20000));
      if (!line) break;
      Json event = Json::parse(*line);
      if (event.value("event", "") != "frame") {
        other.push_back(event);
        continue;
      }
      ++frames;
      if (auto size = jpegSize(base64Decode(event.value("jpeg", "")))) sizes.push_back(*size);
    }
    return other;
  }
  // Closes standard input; returns the remaining non-frame events and the exit status.
  std::pair<std::vector<Json>, std::optional<int>> endInput() {
    process->closeStdin();
    std::vector<Json> rest;
    while (auto e = nextNonFrame()) rest.push_back(*e);
    return {rest, process->wait(milliseconds(10000))};
  }

  std::unique_ptr<ChildProcess> process;
  int frames = 0;
  std::vector<std::pair<int, int>> sizes;
};

std::vector<Json> virtualOpening() {
  return {log("set virtual:pattern auth=3"),
          log("access true"),
          {{"event", "preview"}, {"state", "starting"}, {"name", "Tavolu Virtual Camera"}},
          log("device Tavolu Virtual Camera inUse=false suspended=false"),
          log("startRunning\u2026"),
          log("startRunning returned running=true"),
          state("live"),
          log("first frame 1920x1080")};
}

TEST_F(CameraPreviewMode, MissingIdThenEndOfInput) {
  send(R"({"camera":"usb-Nobody-video-index0"})");
  EXPECT_EQ(next(3), (std::vector<Json>{log("set usb-Nobody-video-index0 auth=3"),
                                        log("access true"), state("missing")}));
  auto [rest, status] = endInput();
  EXPECT_EQ(rest, std::vector<Json>{state("off")});
  EXPECT_EQ(status, 0);
}

TEST_F(CameraPreviewMode, VirtualCameraStreamsFramesOf1280x720) {
  send("not json");
  send("[\"camera\"]");
  send("");
  send(R"({"camera":"virtual:pattern"})");
  EXPECT_EQ(next(8), virtualOpening());
  EXPECT_TRUE(untilFrames(5).empty());
  ASSERT_GE(sizes.size(), 5u);
  for (auto& size : sizes) EXPECT_EQ(size, std::make_pair(1280, 720));

  // The same camera again changes nothing: the next event is the one of the following request.
  send(R"({"camera":"virtual:pattern"})");
  send(R"({"camera":"usb-Nobody-video-index0"})");
  EXPECT_EQ(next(3), (std::vector<Json>{log("set usb-Nobody-video-index0 auth=3"),
                                        log("access true"), state("missing")}));

  // And back: a full new opening.
  send(R"({"camera":"virtual:pattern"})");
  EXPECT_EQ(next(8), virtualOpening());
  int before = frames;
  untilFrames(before + 2);
  EXPECT_EQ(frames, before + 2);
}

TEST_F(CameraPreviewMode, EndOfInputWhileOpenTurnsItOffAndExits) {
  send(R"({"camera":"virtual:pattern"})");
  EXPECT_EQ(next(8), virtualOpening());
  auto [rest, status] = endInput();
  EXPECT_EQ(rest, std::vector<Json>{state("off")});
  EXPECT_EQ(status, 0);
}

TEST_F(CameraPreviewMode, OffTwiceAndEndOfInputWithNothingWantedWriteOneOff) {
  send(R"({"camera":"virtual:pattern"})");
  EXPECT_EQ(next(8), virtualOpening());
  send(R"({"camera":null})");
  send("{}");
  auto [rest, status] = endInput();
  EXPECT_EQ(rest, std::vector<Json>{state("off")});
  EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace tavolu::test
