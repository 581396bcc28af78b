// tavolu-capture's modes as the host runs them: the command line, the one-line replies, the
// source list, the clipboard and the window watcher, against a real X server.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>

#include "tests/support/child_process.h"
#include "tests/support/test_window_client.h"

namespace tavolu::test {
namespace {

using Json = nlohmann::json;

class CaptureModes : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs the test run's X server (scripts/test)";
  }
  std::unique_ptr<ChildProcess> run(std::vector<std::string> args,
                                    std::map<std::string, std::string> env = {}) {
    args.insert(args.begin(), programPath("tavolu-capture"));
    return std::make_unique<ChildProcess>(args, env);
  }
  // Runs to the end; returns (stdout, status).
  std::pair<std::string, int> runToEnd(std::vector<std::string> args,
                                       std::map<std::string, std::string> env = {}) {
    auto p = run(std::move(args), std::move(env));
    p->closeStdin();
    std::string out = p->readToEnd(milliseconds(20000));
    auto status = p->wait(milliseconds(20000));
    return {out, status.value_or(-1)};
  }
  static std::string shell(const std::string& command) {
    std::string out;
    std::unique_ptr<FILE, decltype(&pclose)> pipe(popen(command.c_str(), "r"), &pclose);
    char buf[4096];
    size_t n;
    while (pipe && (n = fread(buf, 1, sizeof buf, pipe.get())) > 0) out.append(buf, n);
    return out;
  }
};

TEST_F(CaptureModes, OneLineRepliesAndExitStatuses) {
  struct Case {
    std::vector<std::string> args;
    std::map<std::string, std::string> env;
    std::string out;
    int status;
  };
  const Case cases[] = {
      {{"--input-monitoring"}, {}, "{\"granted\":true}\n", 0},
      {{"--input-monitoring", "request"}, {}, "{\"granted\":true}\n", 0},
      {{"--input-monitoring"}, {{"DISPLAY", ":4242"}}, "{\"granted\":false}\n", 0},
      {{"--list", "--input-monitoring"}, {}, "{\"granted\":true}\n", 0},
      {{"--copy-file", "/no/such/file"}, {}, "{\"copied\":false}\n", 1},
      {{}, {}, "", 0},               // recording mode, input closed at once
      {{"--copy-file"}, {}, "", 0},  // flag without a path: recording mode
  };
  for (const auto& c : cases) {
    auto [out, status] = runToEnd(c.args, c.env);
    std::string joined;
    for (auto& a : c.args) joined += a + " ";
    EXPECT_EQ(out, c.out) << joined;
    EXPECT_EQ(status, c.status) << joined;
  }
}

TEST_F(CaptureModes, ListShowsDisplaysAndOrdinaryWindowsFrontFirst) {
  TestWindow back({"--title", "Back", "--class", "Editor", "--x", "50", "--y", "60"});
  TestWindow host({"--title", "Studio", "--class", "com.orvenda.studio"});
  TestWindow small({"--title", "Tiny", "--width", "80", "--height", "200"});
  TestWindow front({"--title", "Front \xC3\xA9", "--no-class", "--width", "81", "--height", "61"});
  auto [out, status] = runToEnd({"--list"});
  EXPECT_EQ(status, 0);
  ASSERT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
  Json e = Json::parse(out);
  EXPECT_EQ(e["event"], "sources");
  ASSERT_FALSE(e["sources"].empty());
  EXPECT_EQ(e["sources"][0]["id"].get<std::string>().rfind("screen:", 0), 0u);
  EXPECT_EQ(e["sources"][0]["name"], "Display 1 \u00B7 1920 \u00D7 1080");
  std::vector<std::string> windows;
  for (auto& s : e["sources"])
    if (s["id"].get<std::string>().rfind("window:", 0) == 0) windows.push_back(s["name"]);
  EXPECT_EQ(windows,
            (std::vector<std::string>{"Window \u2014 Front \u00E9", "Editor \u2014 Back"}));
  for (auto& s : e["sources"])
    if (s["name"] == "Editor \u2014 Back") EXPECT_EQ(s["bounds"]["x"], 50.0);
  EXPECT_TRUE(e["cameras"].is_array());
  EXPECT_TRUE(e["microphones"].is_array());

  auto [noX, noXStatus] = runToEnd({"--list"}, {{"DISPLAY", ":4242"}});
  EXPECT_EQ(noXStatus, 0);
  Json denied = Json::parse(noX);
  EXPECT_EQ(denied["sources"], Json::array());
  EXPECT_EQ(denied["sourceError"], "permission");
  EXPECT_EQ(denied["permission"], false);
}

TEST_F(CaptureModes, CopiedFileStaysOnTheClipboardAfterExit) {
  TempDir dir;
  std::string file = dir.file("my clip.mp4");
  std::ofstream(file) << "x";
  auto [out, status] = runToEnd({"--copy-file", file});
  EXPECT_EQ(out, "{\"copied\":true}\n");
  EXPECT_EQ(status, 0);
  std::string url = "file://" + dir.path() + "/my%20clip.mp4";
  EXPECT_EQ(shell("xclip -selection clipboard -o -t text/uri-list"), url + "\r\n");
  EXPECT_EQ(shell("xclip -selection clipboard -o -t x-special/gnome-copied-files"), "copy\n" + url);
  EXPECT_EQ(shell("xclip -selection clipboard -o"), file);
  // Another client taking the clipboard ends our ownership.
  // (xclip returns once it owns the selection and serves it from the background.)
  shell("echo other | xclip -selection clipboard -i >/dev/null 2>&1");
  EXPECT_EQ(shell("xclip -selection clipboard -o"), "other\n");
}

TEST_F(CaptureModes, WindowWatchPrintsChangesUntilInputEnds) {
  TestWindow other({"--title", "Other", "--x", "0", "--y", "0"});
  TestWindow mine({"--title", "Mine", "--pid", "4242"});
  auto watch = run({"--watch-windows", "+4242"});
  auto first = watch->readLine();
  ASSERT_TRUE(first);
  Json line = Json::parse(*first);
  EXPECT_EQ(line["window"]["title"], "Other");  // the excluded process's window is skipped
  EXPECT_EQ(line["window"]["app"], "TavoluTest");
  other.command("move 30 40");
  auto moved = watch->readLine();
  ASSERT_TRUE(moved);
  EXPECT_EQ(Json::parse(*moved)["window"]["x"], 30.0);
  EXPECT_FALSE(watch->readLine(milliseconds(600)));  // no change: nothing printed
  watch->closeStdin();
  EXPECT_EQ(watch->wait(), 0);
}

TEST_F(CaptureModes, RecordingModeIgnoresBadLinesAndReportsAFailedStart) {
  auto p = run({});
  p->write("\nnot json\n[1]\n7\n{\"command\":\"STOP\"}\n");
  p->write("{\"command\":\"start\",\"source\":\"window:1\",\"video\":\"/tmp/x.mp4\"}\n");
  auto line = p->readLine(milliseconds(20000));
  ASSERT_TRUE(line);
  Json e = Json::parse(*line);
  EXPECT_EQ(e["event"], "error");
  EXPECT_EQ(
      e["message"],
      "The selected screen or window is no longer available. Refresh sources and choose again.");
  EXPECT_EQ(p->wait(milliseconds(10000)), 1);
}

}  // namespace
}  // namespace tavolu::test
