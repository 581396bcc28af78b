// The screen stream against the test run's real X server, with real windows.
#include "platform/linux/x11_screen_stream.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

#include "platform/linux/frame_compositing.h"
#include "platform/linux/screen_capture_test_support.h"
#include "platform/linux/x11_screen_capture.h"
#include "platform/linux/x11_window_system.h"
#include "tests/support/test_window_client.h"

namespace tavolu {
namespace {

using test::RecordingDelegate;
using test::rgbAt;
using test::screenFrames;
using test::TestWindow;
using Entries = std::vector<RecordingDelegate::Entry>;
using Stops = std::vector<Error>;

bool isComplete(const StreamSample& s) {
  return s.status && *s.status == static_cast<int64_t>(FrameStatus::complete);
}

class X11ScreenStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "DISPLAY is not set";
  }

  Window windowOf(const TestWindow& w) {
    for (const Window& x : capture.shareableContent().windows)
      if (x.id == w.id()) return x;
    ADD_FAILURE() << "window " << w.id() << " not listed";
    return {};
  }

  StreamConfiguration config(int width, int height, bool cursor = false) {
    StreamConfiguration c;
    c.width = width;
    c.height = height;
    c.showsCursor = cursor;
    return c;
  }

  std::unique_ptr<ScreenStream> start(const ContentFilter& filter, const StreamConfiguration& c) {
    auto stream = capture.createStream(filter, c, delegate, queue.post());
    stream->addOutput(StreamOutputType::screen);
    stream->startCapture();
    return stream;
  }

  // The first screen frame after `from` that satisfies `pred`, or none on time-out.
  template <typename Pred>
  std::optional<StreamSample> frameAfter(size_t from, Pred pred) {
    std::optional<StreamSample> found;
    delegate.waitFor([&](const Entries& e, const Stops&) {
      auto frames = screenFrames(e);
      for (size_t i = from; i < frames.size(); ++i)
        if (pred(frames[i])) {
          found = frames[i];
          return true;
        }
      return false;
    });
    return found;
  }
  size_t frameCount() { return screenFrames(delegate.entries()).size(); }

  X11ScreenCapture capture{std::make_shared<X11WindowSystem>()};
  RecordingDelegate delegate;
  test::TestQueue queue;
};

TEST_F(X11ScreenStreamTest, CoveredWindowIsCapturedWholeIdleWhileStillCompleteWhenChanged) {
  TestWindow target(
      {"--x", "400", "--y", "300", "--width", "320", "--height", "240", "--color", "ff0000"});
  TestWindow cover(
      {"--x", "350", "--y", "250", "--width", "500", "--height", "400", "--color", "0000ff"});
  auto stream = start(capture.windowFilter(windowOf(target)), config(320, 240));

  ASSERT_TRUE(delegate.waitFor([](const Entries& e, const Stops&) { return e.size() >= 5; }));
  auto frames = screenFrames(delegate.entries());
  ASSERT_TRUE(isComplete(frames[0]));
  for (size_t i = 1; i < 5; ++i) EXPECT_FALSE(isComplete(frames[i])) << "frame " << i;
  const PixelBuffer& first = *frames[0].pixels;
  ASSERT_EQ(first.width, 320);
  ASSERT_EQ(first.height, 240);
  for (auto [x, y] : {std::pair{0, 0}, {160, 120}, {319, 239}})
    EXPECT_EQ(rgbAt(first, x, y), 0xff0000u) << x << "," << y;
  EXPECT_EQ(*frames[0].screenRect, (Rect{400, 300, 320, 240}));
  EXPECT_GT(frames[1].pts, frames[0].pts);

  // Drawing in the covered window makes a complete frame with the new picture.
  size_t seen = frameCount();
  target.command("color 00ff00");
  auto changed = frameAfter(seen, isComplete);
  ASSERT_TRUE(changed);
  EXPECT_EQ(rgbAt(*changed->pixels, 160, 120), 0x00ff00u);

  // Moving it gives a complete frame with its new place on screen (for window following).
  seen = frameCount();
  target.command("move 500 400");
  auto moved = frameAfter(seen, [](const StreamSample& s) {
    return isComplete(s) && s.screenRect && s.screenRect->x == 500;
  });
  ASSERT_TRUE(moved);
  EXPECT_EQ(*moved->screenRect, (Rect{500, 400, 320, 240}));
}

TEST_F(X11ScreenStreamTest, DisplayRegionIsCroppedAndScaledAndShowsChanges) {
  TestWindow w(
      {"--x", "600", "--y", "500", "--width", "200", "--height", "200", "--color", "00ffff"});
  Display display = capture.shareableContent().displays.at(0);
  StreamConfiguration c = config(100, 100);
  c.sourceRect = Rect{600 - display.frame.x, 500 - display.frame.y, 200, 200};
  auto stream = start(capture.displayFilter(display, {}, {}), c);

  auto first = frameAfter(0, isComplete);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->pixels->width, 100);
  EXPECT_EQ(first->pixels->height, 100);
  EXPECT_EQ(*first->screenRect, (Rect{600, 500, 200, 200}));
  EXPECT_EQ(rgbAt(*first->pixels, 50, 50), 0x00ffffu);

  // Drawing outside the region changes nothing in it.
  TestWindow outside({"--x", "1000", "--y", "500", "--width", "100", "--height", "100"});
  size_t seen = frameCount();
  outside.command("color ffffff");
  ASSERT_TRUE(frameAfter(seen + 3, [](const StreamSample&) { return true; }));
  auto frames = screenFrames(delegate.entries());
  for (size_t i = seen; i < frames.size(); ++i) EXPECT_FALSE(isComplete(frames[i])) << i;

  seen = frameCount();
  w.command("color ffff00");
  auto changed = frameAfter(seen, [](const StreamSample& s) {
    return isComplete(s) && rgbAt(*s.pixels, 50, 50) == 0xffff00u;
  });
  EXPECT_TRUE(changed);
}

TEST_F(X11ScreenStreamTest, ExcludedApplicationIsHiddenExceptItsExceptingWindows) {
  TestWindow host({"--x", "1200", "--y", "100", "--width", "100", "--height", "100", "--color",
                   "ff00ff", "--app-id", "com.orvenda.studio"});
  TestWindow kept({"--x", "1350", "--y", "100", "--width", "100", "--height", "100", "--color",
                   "ff00ff", "--app-id", "com.orvenda.studio"});
  ShareableContent content = capture.shareableContent();
  std::vector<Application> excluded;
  for (const Application& a : content.applications)
    if (a.bundleId == "com.orvenda.studio") excluded.push_back(a);
  ASSERT_FALSE(excluded.empty());
  const Display& display = content.displays.at(0);
  StreamConfiguration c = config(400, 200);
  c.sourceRect = Rect{1150 - display.frame.x, 50 - display.frame.y, 400, 200};
  auto stream = start(capture.displayFilter(display, excluded, {windowOf(kept)}), c);
  auto first = frameAfter(0, isComplete);
  ASSERT_TRUE(first);
  EXPECT_EQ(rgbAt(*first->pixels, 100, 100), 0x000000u);  // the host window, hidden
  EXPECT_EQ(rgbAt(*first->pixels, 250, 100), 0xff00ffu);  // the excepted window, kept
}

TEST_F(X11ScreenStreamTest, PointerIsDrawnAndItsMovesMakeCompleteFrames) {
  TestWindow w(
      {"--x", "900", "--y", "600", "--width", "200", "--height", "200", "--color", "ffffff"});
  ASSERT_EQ(std::system("xdotool mousemove 0 0"), 0);  // away from the window
  auto stream = start(capture.windowFilter(windowOf(w)), config(200, 200, true));
  ASSERT_TRUE(frameAfter(0, isComplete));
  size_t seen = frameCount();
  ASSERT_EQ(std::system("xdotool mousemove 1000 700"), 0);
  // The pointer's image differs from the white window somewhere around its hot spot.
  auto drawn = frameAfter(seen, [](const StreamSample& s) {
    if (!isComplete(s)) return false;
    for (int y = 84; y < 116; ++y)
      for (int x = 84; x < 116; ++x)
        if (rgbAt(*s.pixels, x, y) != 0xffffffu) return true;
    return false;
  });
  EXPECT_TRUE(drawn);
}

TEST_F(X11ScreenStreamTest, AHeldButtonIsShownAsARingWhenClicksAreShown) {
  TestWindow w(
      {"--x", "1300", "--y", "600", "--width", "200", "--height", "200", "--color", "ffffff"});
  StreamConfiguration c = config(200, 200);
  c.showMouseClicks = true;
  auto stream = start(capture.windowFilter(windowOf(w)), c);
  ASSERT_EQ(std::system("xdotool mousemove 1400 700"), 0);
  ASSERT_TRUE(frameAfter(0, isComplete));
  size_t seen = frameCount();
  ASSERT_EQ(std::system("xdotool mousedown 1"), 0);
  auto ring = frameAfter(seen, [](const StreamSample& s) {
    return isComplete(s) && rgbAt(*s.pixels, 100 + kClickRingRadius, 100) != 0xffffffu;
  });
  std::system("xdotool mouseup 1");
  ASSERT_TRUE(ring);
  EXPECT_EQ(rgbAt(*ring->pixels, 100, 100), 0xffffffu);  // the pointer itself is not drawn
}

TEST_F(X11ScreenStreamTest, ClosedWindowEndsTheStreamOnceWithAnError) {
  TestWindow w({"--x", "50", "--y", "50", "--width", "100", "--height", "100"});
  auto stream = start(capture.windowFilter(windowOf(w)), config(100, 100));
  ASSERT_TRUE(frameAfter(0, isComplete));
  w.close();
  ASSERT_TRUE(delegate.waitFor([](const Entries&, const Stops& s) { return !s.empty(); }));
  stream->stopCapture();
  queue.drain();
  auto stops = delegate.stops();
  ASSERT_EQ(stops.size(), 1u);
  EXPECT_EQ(stops[0].domain(), "Capture");
  EXPECT_EQ(stops[0].code(), 7);
}

TEST_F(X11ScreenStreamTest, NothingIsDeliveredAfterStopCapture) {
  TestWindow w({"--x", "50", "--y", "400", "--width", "100", "--height", "100"});
  auto stream = start(capture.windowFilter(windowOf(w)), config(100, 100));
  ASSERT_TRUE(frameAfter(2, [](const StreamSample&) { return true; }));
  stream->stopCapture();
  size_t count = delegate.entries().size();
  w.close();  // would end a running stream
  queue.drain();
  EXPECT_EQ(delegate.entries().size(), count);
  EXPECT_TRUE(delegate.stops().empty());
  stream->stopCapture();  // idempotent
}

TEST_F(X11ScreenStreamTest, TheDelegateCanStopTheStreamFromInsideADelivery) {
  // Stopping from the capture queue while the capture thread keeps producing frames (and
  // here also meets the closed window) must neither deadlock nor deliver anything afterwards.
  struct StoppingDelegate : RecordingDelegate {
    ScreenStream* stream = nullptr;
    test::TestWindow* window = nullptr;
    void streamDidOutput(const StreamSample& sample, StreamOutputType type) override {
      RecordingDelegate::streamDidOutput(sample, type);
      if (entries().size() == 3) {
        window->close();
        stream->stopCapture();
      }
    }
  } stopping;
  TestWindow w({"--x", "50", "--y", "700", "--width", "100", "--height", "100"});
  stopping.window = &w;
  auto stream = capture.createStream(capture.windowFilter(windowOf(w)), config(100, 100), stopping,
                                     queue.post());
  stopping.stream = stream.get();
  stream->addOutput(StreamOutputType::screen);
  stream->startCapture();
  ASSERT_TRUE(stopping.waitFor([](const Entries& e, const Stops&) { return e.size() >= 3; }));
  queue.drain();
  EXPECT_EQ(stopping.entries().size(), 3u);
  EXPECT_TRUE(stopping.stops().empty());
}

// A private X server of its own, which the test can kill. Display numbers are tried from a
// per-process start, because another server (also of another user of the machine) may hold
// one through its abstract socket.
class PrivateXServer {
 public:
  PrivateXServer() {
    for (int attempt = 0; attempt < 10 && display_.empty(); ++attempt) {
      std::string name = ":" + std::to_string(200 + (getpid() * 7 + attempt * 13) % 700);
      if (start(name)) display_ = name;
    }
  }
  ~PrivateXServer() { kill(); }
  const std::string& display() const { return display_; }
  void kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  // Starts Xvfb on `name`; true once a client can connect.
  bool start(const std::string& name) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(fds[1], 3);
      int null = open("/dev/null", O_WRONLY);
      dup2(null, 2);
      execlp("Xvfb", "Xvfb", name.c_str(), "-displayfd", "3", "-screen", "0", "640x480x24",
             "-nolisten", "tcp", "-noreset", "+extension", "DAMAGE", "+extension", "MIT-SHM",
             "+extension", "XFIXES", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    char buf[32] = {};
    bool ready = read(fds[0], buf, sizeof buf - 1) > 0;  // written once it listens
    close(fds[0]);
    if (ready) {
      xcb_connection_t* c = xcb_connect(name.c_str(), nullptr);
      ready = !xcb_connection_has_error(c);
      xcb_disconnect(c);
    }
    if (!ready) kill();
    return ready;
  }

  pid_t pid_ = -1;
  std::string display_;
};

TEST_F(X11ScreenStreamTest, ALostXServerEndsTheStreamOnceWithAnError) {
  PrivateXServer server;
  ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
  // The stream connects to the display named when it starts.
  struct DisplayOverride {
    std::string previous = std::getenv("DISPLAY");
    explicit DisplayOverride(const std::string& d) { setenv("DISPLAY", d.c_str(), 1); }
    ~DisplayOverride() { setenv("DISPLAY", previous.c_str(), 1); }
  };
  Display display{1, 640, 480, {0, 0, 640, 480}};
  auto stream = capture.createStream(capture.displayFilter(display, {}, {}), config(640, 480),
                                     delegate, queue.post());
  stream->addOutput(StreamOutputType::screen);
  {
    DisplayOverride on(server.display());
    stream->startCapture();
  }
  ASSERT_TRUE(frameAfter(0, isComplete));
  server.kill();
  ASSERT_TRUE(delegate.waitFor([](const Entries&, const Stops& s) { return !s.empty(); }));
  stream->stopCapture();
  queue.drain();
  auto stops = delegate.stops();
  ASSERT_EQ(stops.size(), 1u);
  EXPECT_EQ(stops[0].domain(), "X11");
  EXPECT_EQ(stops[0].code(), 2);
}

TEST_F(X11ScreenStreamTest, GoneSourcesAreRefusedAtStart) {
  Window gone;
  gone.id = 0x7fffff01;  // no such window
  auto stream =
      capture.createStream(capture.windowFilter(gone), config(100, 100), delegate, queue.post());
  stream->addOutput(StreamOutputType::screen);
  try {
    stream->startCapture();
    FAIL() << "started on a window that does not exist";
  } catch (const Error& e) {
    EXPECT_EQ(e.domain(), "Capture");
    EXPECT_EQ(e.code(), 7);
  }
}

}  // namespace
}  // namespace tavolu
