// Video sink benchmark: encodes the same synthetic BGRA frames through VideoSink and through
// the ffmpeg command-line tool (libx264 with the same settings) in the same run, and reports
// encoding speed and CPU time per recorded second as ratios. A paced run at the nominal frame
// rate shows whether the sink keeps up in real time without dropping frames.
//
//   capture_sinks_bench [--frames N] [--only WxH@FPS] [--no-realtime] [--keep DIR]
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "capture/sinks/h264_encoder.h"
#include "capture/sinks/video_sink.h"

using namespace tavolu;
using Clock = std::chrono::steady_clock;

namespace {

struct Config {
  int width, height, fps;
  std::string name() const {
    return std::to_string(width) + "x" + std::to_string(height) + "@" + std::to_string(fps);
  }
};

struct Result {
  double seconds = 0;  // wall time
  double cpu = 0;      // user + system seconds
  int64_t dropped = 0;
  bool ok = true;
};

double cpuSeconds(const rusage& r) {
  return r.ru_utime.tv_sec + r.ru_stime.tv_sec + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

double selfCpu() {
  rusage r{};
  getrusage(RUSAGE_SELF, &r);
  return cpuSeconds(r);
}

// A moving diagonal gradient with a bouncing block and some noise: motion everywhere, like
// scrolling screen content, and different in each of the frames.
std::vector<PixelBufferRef> makeFrames(int width, int height, int count) {
  std::vector<PixelBufferRef> frames;
  uint32_t seed = 12345;
  for (int n = 0; n < count; ++n) {
    auto p = PixelBuffer::make(width, height);
    int bx = (n * 37) % std::max(1, width - 200), by = (n * 23) % std::max(1, height - 200);
    for (int y = 0; y < height; ++y) {
      uint8_t* row = p->row(y);
      for (int x = 0; x < width; ++x) {
        seed = seed * 1664525 + 1013904223;
        uint8_t noise = static_cast<uint8_t>(seed >> 29);
        bool block = x >= bx && x < bx + 200 && y >= by && y < by + 200;
        row[4 * x + 0] = block ? 240 : static_cast<uint8_t>((x + y + 4 * n) / 4 + noise);
        row[4 * x + 1] = block ? 40 : static_cast<uint8_t>((x - y + 8 * n) / 8 + noise);
        row[4 * x + 2] = block ? 40 : static_cast<uint8_t>(y / 5 + ((x / 64 + n) % 2) * 60);
        row[4 * x + 3] = 255;
      }
    }
    frames.push_back(p);
  }
  return frames;
}

MediaTime frameTime(MediaTime origin, int n, int fps) {
  return origin + MediaTime::fromNanos(static_cast<int64_t>(n) * 1'000'000'000 / fps);
}

// Every frame queued at once (the queue holds them all): how fast the sink encodes.
Result runSink(const Config& c, const std::vector<PixelBufferRef>& frames, int count,
               const std::string& path) {
  Result r;
  MediaTime origin = hostTimeNow();
  double cpu0 = selfCpu();
  auto t0 = Clock::now();
  try {
    VideoSink sink(path, c.width, c.height, c.fps, origin, count + 1);
    for (int n = 0; n < count; ++n)
      sink.append(frames[n % frames.size()], frameTime(origin, n, c.fps));
    sink.finish(frameTime(origin, count, c.fps), c.fps);
    r.dropped = sink.dropped();
  } catch (const Error& e) {
    std::fprintf(stderr, "sink failed: %s\n", e.description().c_str());
    r.ok = false;
  }
  r.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  r.cpu = selfCpu() - cpu0;
  return r;
}

// Frames appended at the nominal rate, as the capture delivers them; drops show whether the
// encoder keeps up.
Result runSinkPaced(const Config& c, const std::vector<PixelBufferRef>& frames, int count,
                    const std::string& path) {
  Result r;
  MediaTime origin = hostTimeNow();
  double cpu0 = selfCpu();
  auto t0 = Clock::now();
  try {
    VideoSink sink(path, c.width, c.height, c.fps, origin);
    auto next = Clock::now();
    for (int n = 0; n < count; ++n) {
      std::this_thread::sleep_until(next);  // the pace of a capture source
      sink.append(frames[n % frames.size()], hostTimeNow());
      next += std::chrono::nanoseconds(1'000'000'000 / c.fps);
    }
    sink.finish(hostTimeNow(), c.fps);
    r.dropped = sink.dropped();
  } catch (const Error& e) {
    std::fprintf(stderr, "paced sink failed: %s\n", e.description().c_str());
    r.ok = false;
  }
  r.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  r.cpu = selfCpu() - cpu0;
  return r;
}

// The same frames through `ffmpeg -f rawvideo ... -c:v libx264` with the sink's settings.
Result runFfmpeg(const Config& c, const std::vector<PixelBufferRef>& frames, int count,
                 const std::string& path) {
  Result r;
  std::string size = std::to_string(c.width) + "x" + std::to_string(c.height);
  std::string bitRate = std::to_string(h264BitRate(c.width, c.height, c.fps));
  std::vector<std::string> args{"ffmpeg",
                                "-nostdin",
                                "-v",
                                "error",
                                "-y",
                                "-f",
                                "rawvideo",
                                "-pix_fmt",
                                "bgra",
                                "-s",
                                size,
                                "-r",
                                std::to_string(c.fps),
                                "-i",
                                "pipe:0",
                                "-c:v",
                                "libx264",
                                "-preset",
                                kH264Preset,
                                "-profile:v",
                                "high",
                                "-bf",
                                "0",
                                "-g",
                                std::to_string(2 * c.fps),
                                "-b:v",
                                bitRate,
                                "-pix_fmt",
                                "yuv420p",
                                "-movflags",
                                "+frag_keyframe+empty_moov+default_base_moof",
                                "-f",
                                "mp4",
                                path};
  int in[2];
  if (pipe(in) != 0) return {0, 0, 0, false};
  auto t0 = Clock::now();
  pid_t child = fork();
  if (child == 0) {
    dup2(in[0], 0);
    close(in[0]);
    close(in[1]);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execvp("ffmpeg", argv.data());
    _exit(127);
  }
  close(in[0]);
  for (int n = 0; n < count && r.ok; ++n) {
    const PixelBuffer& f = *frames[n % frames.size()];
    const uint8_t* p = f.bytes.data();
    size_t left = f.bytes.size();
    while (left > 0) {
      ssize_t w = write(in[1], p, left);
      if (w <= 0) {
        r.ok = false;
        break;
      }
      p += w;
      left -= static_cast<size_t>(w);
    }
  }
  close(in[1]);
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  r.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  r.cpu = cpuSeconds(usage);
  r.ok = r.ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  int count = 120;
  bool realtime = true;
  std::string only, keep;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--frames" && i + 1 < argc)
      count = std::max(1, std::atoi(argv[++i]));
    else if (a == "--only" && i + 1 < argc)
      only = argv[++i];
    else if (a == "--no-realtime")
      realtime = false;
    else if (a == "--keep" && i + 1 < argc)
      keep = argv[++i];
  }
  char dirTemplate[] = "/tmp/sinks-bench.XXXXXX";
  std::string dir = keep.empty() ? mkdtemp(dirTemplate) : keep;

  const Config configs[] = {{1920, 1080, 30}, {1920, 1080, 60}, {3840, 2160, 30}, {3840, 2160, 60}};
  std::printf(
      "VideoSink vs ffmpeg -c:v libx264 (preset %s, High, no B-frames, GOP 2 x fps, same "
      "bit rate), %d frames each, %u cores\n",
      kH264Preset, count, std::thread::hardware_concurrency());
  std::printf("%-14s %9s %9s %7s | %11s %11s %7s | %s\n", "size@fps", "sink fps", "ffmpeg", "ratio",
              "sink cpu/s", "ffmpeg cpu/s", "ratio", "paced at fps: dropped (cpu/s)");
  bool ok = true;
  for (const auto& c : configs) {
    if (!only.empty() && only != c.name()) continue;
    auto frames = makeFrames(c.width, c.height, 8);
    std::string base = dir + "/" + c.name();
    Result sink = runSink(c, frames, count, base + "-sink.mp4");
    Result ff = runFfmpeg(c, frames, count, base + "-ffmpeg.mp4");
    double recorded = static_cast<double>(count) / c.fps;
    double sinkFps = count / sink.seconds, ffFps = count / ff.seconds;
    double sinkCpu = sink.cpu / recorded, ffCpu = ff.cpu / recorded;
    std::string paced = "-";
    if (realtime) {
      Result p = runSinkPaced(c, frames, count, base + "-paced.mp4");
      char text[64];
      std::snprintf(text, sizeof text, "%lld of %d (%.2f)", static_cast<long long>(p.dropped),
                    count, p.cpu / recorded);
      paced = text;
      ok = ok && p.ok;
    }
    std::printf("%-14s %9.1f %9.1f %7.2f | %11.2f %11.2f %7.2f | %s\n", c.name().c_str(), sinkFps,
                ffFps, sinkFps / ffFps, sinkCpu, ffCpu, sinkCpu / ffCpu, paced.c_str());
    std::fflush(stdout);
    ok = ok && sink.ok && ff.ok;
  }
  std::printf("fps ratio > 1: the sink encodes faster; cpu ratio < 1: it needs less CPU.\n");
  if (keep.empty()) std::system(("rm -rf '" + dir + "'").c_str());
  return ok ? 0 : 1;
}
