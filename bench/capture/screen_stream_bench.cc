// Screen stream benchmark: reads a 1920x1080 display at 30 fps with X11ScreenStream and with
// ffmpeg's x11grab (MIT-SHM as well, frames thrown away) in the same run, once while the whole
// screen changes every frame and once while it is still, and reports CPU seconds per captured
// second of both as ratios, with the stream's own cost per complete frame.
//
//   capture_screen_stream_bench [--seconds N]
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/linux/x11_screen_capture.h"
#include "platform/linux/x11_screen_stream.h"
#include "platform/linux/x11_window_system.h"
#include "platform/serial_queue.h"

using namespace tavolu;

namespace {

double cpuSeconds(const rusage& r) {
  return r.ru_utime.tv_sec + r.ru_stime.tv_sec + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

double selfCpu() {
  rusage r{};
  getrusage(RUSAGE_SELF, &r);
  return cpuSeconds(r);
}

// A child process that repaints a full-screen window in a new colour 60 times a second, so
// every captured frame differs. Its own cost is tiny and not counted (the X server paints).
pid_t startMotion() {
  pid_t pid = fork();
  if (pid != 0) return pid;
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(c)) _exit(1);
  xcb_screen_t* s = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  xcb_window_t w = xcb_generate_id(c);
  uint32_t values[] = {0, 1};
  xcb_create_window(c, XCB_COPY_FROM_PARENT, w, s->root, 0, 0, s->width_in_pixels,
                    s->height_in_pixels, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, s->root_visual,
                    XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
  xcb_map_window(c, w);
  auto next = std::chrono::steady_clock::now();
  for (uint32_t n = 0;; ++n) {
    uint32_t colour = (n * 0x0a1b2c) & 0xffffff;
    xcb_change_window_attributes(c, w, XCB_CW_BACK_PIXEL, &colour);
    xcb_clear_area(c, 0, w, 0, 0, 0, 0);
    free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    next += std::chrono::microseconds(16667);
    std::this_thread::sleep_until(next);
  }
}

void stopChild(pid_t pid) {
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
}

class CountingDelegate : public StreamDelegate {
 public:
  void streamDidOutput(const StreamSample& s, StreamOutputType) override {
    (s.status && *s.status == 0 ? complete : idle)++;
  }
  void streamDidStop(const Error& e) override {
    std::fprintf(stderr, "stream stopped: %s\n", e.description().c_str());
  }
  std::atomic<int> complete{0}, idle{0};
};

struct Measure {
  double cpu = 0;  // per captured second
  int complete = 0, idle = 0;
  uint64_t dropped = 0;
  double msPerFrame = 0;
};

Measure runStream(double seconds) {
  X11ScreenCapture capture(std::make_shared<X11WindowSystem>());
  Display display = capture.shareableContent().displays.at(0);
  StreamConfiguration config;
  config.width = display.width;
  config.height = display.height;
  CountingDelegate delegate;
  SerialQueue queue("bench.capture");
  auto stream = capture.createStream(capture.displayFilter(display, {}, {}), config, delegate,
                                     [&](std::function<void()> fn) { queue.async(std::move(fn)); });
  stream->addOutput(StreamOutputType::screen);
  double cpu0 = selfCpu();
  stream->startCapture();
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  stream->stopCapture();
  queue.sync([] {});
  Measure m;
  m.cpu = (selfCpu() - cpu0) / seconds;
  auto stats = static_cast<X11ScreenStream&>(*stream).statistics();
  m.complete = delegate.complete;
  m.idle = delegate.idle;
  m.dropped = stats.dropped;
  m.msPerFrame = stats.complete ? stats.pictureTime.count() / 1e6 / stats.complete : 0;
  return m;
}

double runFfmpeg(double seconds, const std::string& size) {
  const char* display = std::getenv("DISPLAY");
  std::string duration = std::to_string(seconds);
  pid_t pid = fork();
  if (pid == 0) {
    execlp("ffmpeg", "ffmpeg", "-loglevel", "error", "-nostdin", "-f", "x11grab", "-framerate",
           "30", "-video_size", size.c_str(), "-i", display, "-t", duration.c_str(), "-c", "copy",
           "-f", "null", "-", static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage r{};
  wait4(pid, &status, 0, &r);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "ffmpeg failed\n");
    return -1;
  }
  return cpuSeconds(r) / seconds;
}

void report(const char* scene, const Measure& m, double ffmpeg) {
  // With a single complete frame the time is that of the first one, which pages memory in.
  std::string perFrame =
      m.complete > 1 ? std::to_string(m.msPerFrame).substr(0, 5) + " ms" : std::string("n/a");
  std::printf(
      "%-7s stream %.3f CPU s/s (%d complete, %d idle, %llu dropped, %s per complete frame)  "
      "ffmpeg x11grab %.3f CPU s/s  ratio stream/ffmpeg %.2f\n",
      scene, m.cpu, m.complete, m.idle, static_cast<unsigned long long>(m.dropped),
      perFrame.c_str(), ffmpeg, ffmpeg > 0 ? m.cpu / ffmpeg : 0);
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 10;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::string(argv[i]) == "--seconds") seconds = std::atof(argv[++i]);
  if (!std::getenv("DISPLAY")) {
    std::fprintf(stderr, "DISPLAY is not set\n");
    return 1;
  }
  X11WindowSystem windows;
  Display d = windows.shareableContent().displays.at(0);
  std::string size = std::to_string(d.width) + "x" + std::to_string(d.height);
  std::printf("screen stream benchmark: %s at 30 fps, %.0f s per run\n", size.c_str(), seconds);

  pid_t motion = startMotion();
  Measure moving = runStream(seconds);
  double ffmpegMoving = runFfmpeg(seconds, size);
  stopChild(motion);
  report("motion", moving, ffmpegMoving);

  Measure still = runStream(seconds);
  double ffmpegStill = runFfmpeg(seconds, size);
  report("still", still, ffmpegStill);
  return 0;
}
