// Cost of one recording preview (1920x1080 BGRA -> 960x540 JPEG at quality 0.82: Lanczos scaling
// and JPEG encoding) next to ffmpeg doing the same work on the same frames: scale=...:lanczos
// and the MJPEG encoder, one thread each.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "capture/preview/preview_frame_encoder.h"
#include "capture/preview/recording_preview.h"

using namespace tavolu;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kWidth = 1920, kHeight = 1080, kDistinct = 4;

// A noisy diagonal gradient with a moving block: camera-like detail that JPEG cannot flatten.
std::shared_ptr<PixelBuffer> makeFrame(int index) {
  auto frame = PixelBuffer::make(kWidth, kHeight);
  uint32_t seed = 12345u + static_cast<uint32_t>(index);
  for (int y = 0; y < kHeight; ++y) {
    uint8_t* row = frame->row(y);
    for (int x = 0; x < kWidth; ++x) {
      seed = seed * 1664525u + 1013904223u;
      int noise = static_cast<int>(seed >> 28) - 8;
      bool block = x >= 300 + index * 40 && x < 700 + index * 40 && y >= 300 && y < 700;
      row[x * 4 + 0] =
          static_cast<uint8_t>(std::clamp((x + index * 16) * 255 / kWidth + noise, 0, 255));
      row[x * 4 + 1] = static_cast<uint8_t>(std::clamp(y * 255 / kHeight + noise, 0, 255));
      row[x * 4 + 2] = static_cast<uint8_t>(
          block ? 230 : std::clamp((x + y) * 255 / (kWidth + kHeight) + noise, 0, 255));
      row[x * 4 + 3] = 255;
    }
  }
  return frame;
}

struct FfmpegRun {
  double seconds = 0;  // ffmpeg's own real time for the transcode (-benchmark rtime)
  long bytes = 0;
  bool ok = false;
};

FfmpegRun runFfmpeg(const std::string& raw, int loops, int qscale, const std::string& out) {
  std::string command =
      "ffmpeg -hide_banner -nostdin -benchmark -threads 1 -filter_threads 1 "
      "-stream_loop " +
      std::to_string(loops - 1) + " -f rawvideo -pix_fmt bgra -s 1920x1080 -r 30 -i " + raw +
      " -vf scale=960:540:flags=lanczos,format=yuvj420p -c:v mjpeg -qmin 1 -q:v " +
      std::to_string(qscale) + " -f image2pipe -y " + out + " 2>&1";
  FfmpegRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
  run.ok = pclose(pipe) == 0;
  std::smatch m;
  if (std::regex_search(text, m, std::regex("rtime=([0-9.]+)s")))
    run.seconds = std::stod(m[1]);
  else
    run.ok = false;
  std::ifstream file(out, std::ios::binary | std::ios::ate);
  run.bytes = file ? static_cast<long>(file.tellg()) : 0;
  if (!run.ok) std::fprintf(stderr, "ffmpeg failed:\n%s\n", text.c_str());
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  int frames = 120;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--frames") == 0) frames = std::max(kDistinct, std::atoi(argv[i + 1]));
  frames = frames / kDistinct * kDistinct;

  std::vector<std::shared_ptr<PixelBuffer>> source;
  for (int i = 0; i < kDistinct; ++i) source.push_back(makeFrame(i));
  char dir[] = "/tmp/tavolu-preview-bench.XXXXXX";
  if (!mkdtemp(dir)) return 1;
  std::string raw = std::string(dir) + "/frames.bgra", out = std::string(dir) + "/out.mjpeg";
  {
    std::ofstream file(raw, std::ios::binary);
    for (auto& f : source)
      file.write(reinterpret_cast<const char*>(f->bytes.data()), f->bytes.size());
  }

  // Ours, on this thread, the way the preview queue runs it.
  JpegPreviewRenderer renderer;
  renderer.renderJpeg(*source[0], RecordingPreview::kCap, RecordingPreview::kQuality);  // warm-up
  long ourBytes = 0;
  auto start = Clock::now();
  size_t base64Chars = 0;
  for (int i = 0; i < frames; ++i) {
    auto jpeg = renderer.renderJpeg(*source[i % kDistinct], RecordingPreview::kCap,
                                    RecordingPreview::kQuality);
    base64Chars += base64Encode(jpeg).size();  // the event carries it as base64
    ourBytes += static_cast<long>(jpeg.size());
  }
  double ours = std::chrono::duration<double>(Clock::now() - start).count();

  // ffmpeg: pick the MJPEG quantiser whose output size is nearest ours (comparable quality),
  // then time it on all frames.
  int bestQ = 2;
  long bestDiff = -1;
  for (int q = 1; q <= 8; ++q) {
    FfmpegRun probe = runFfmpeg(raw, 1, q, out);
    if (!probe.ok) return 1;
    long diff = std::labs(probe.bytes / kDistinct - ourBytes / frames);
    if (bestDiff < 0 || diff < bestDiff) bestDiff = diff, bestQ = q;
  }
  FfmpegRun ffmpeg = runFfmpeg(raw, frames / kDistinct, bestQ, out);
  std::system((std::string("rm -rf ") + dir).c_str());
  if (!ffmpeg.ok) return 1;

  if (base64Chars == 0) return 1;
  double megapixels = static_cast<double>(kWidth) * kHeight * frames / 1e6;
  std::printf(
      "recording preview: %d frames 1920x1080 BGRA -> 960x540 JPEG quality 0.82, one thread\n",
      frames);
  std::printf(
      "  ours    %7.2f ms/frame  %7.1f MP/s  %7.1f kB/JPEG (Lanczos libswscale, TurboJPEG, "
      "base64)\n",
      ours * 1000 / frames, megapixels / ours, ourBytes / 1024.0 / frames);
  std::printf(
      "  ffmpeg  %7.2f ms/frame  %7.1f MP/s  %7.1f kB/JPEG (scale lanczos, mjpeg -q:v %d)\n",
      ffmpeg.seconds * 1000 / frames, megapixels / ffmpeg.seconds, ffmpeg.bytes / 1024.0 / frames,
      bestQ);
  std::printf("  ratio   %.2fx the speed of ffmpeg (ffmpeg time / ours)\n", ffmpeg.seconds / ours);
  return 0;
}
