#include "segment/main/segment.h"

#include <chrono>
#include <cmath>
#include <iomanip>

#include "platform/error.h"
#include "segment/engine/worker_pool.h"
#include "segment/matte/bilateral_upsampler.h"
#include "segment/matte/frame_rules.h"
#include "segment/matte/person_segmenter.h"
#include "segment/video/frame_scaler.h"
#include "segment/video/matte_writer.h"
#include "segment/video/video_reader.h"

namespace tavolu::segment {

namespace {

using Clock = std::chrono::steady_clock;

// Time spent in each stage, for the benchmark.
struct StageTimes {
  double decode = 0, inference = 0, upsample = 0, encode = 0;
  void report(std::ostream& out, long long frames, double total) const {
    auto share = [&](double s) { return total > 0 ? 100.0 * s / total : 0.0; };
    out << std::fixed << std::setprecision(1) << "timings: frames=" << frames
        << " seconds=" << std::setprecision(3) << total << std::setprecision(1)
        << " decode=" << share(decode) << "% inference=" << share(inference)
        << "% upsample=" << share(upsample) << "% encode=" << share(encode) << "%\n";
  }
};

class Stopwatch {
 public:
  explicit Stopwatch(double& into) : into_(into), start_(Clock::now()) {}
  ~Stopwatch() { into_ += std::chrono::duration<double>(Clock::now() - start_).count(); }

 private:
  double& into_;
  Clock::time_point start_;
};

double seconds(int64_t pts, AVRational timeBase) { return pts * av_q2d(timeBase); }

}  // namespace

void segment(const std::string& input, const std::string& output, const SegmentOptions& options) {
  const auto started = Clock::now();
  StageTimes times;
  VideoReader reader(input);
  const VideoTrack& track = reader.track();
  const auto height = matteHeight(track.width, track.height, track.transform);
  // The writer cannot start for a picture without a usable size.
  if (!height)
    throw Error("Mask", 2,
                "Camera video has a picture size that cannot be made into a matte (" +
                    std::to_string(track.width) + "x" + std::to_string(track.height) + ").");

  const bool sideways = track.clockwiseRotation == 90 || track.clockwiseRotation == 270;
  const int uprightW = sideways ? track.height : track.width;
  const int uprightH = sideways ? track.width : track.height;
  WorkerPool pool;
  // The model is loaded before the output file is made, so a missing model leaves no file.
  PersonSegmenter segmenter(options.modelDirectory + "/" + modelFileFor(uprightW, uprightH), pool);
  BilateralUpsampler upsampler;
  FrameScaler scaler(track.clockwiseRotation, kMatteWidth, *height, segmenter.inputWidth(),
                     segmenter.inputHeight());
  MatteWriter writer(output, kMatteWidth, *height, track.timeBase, track.frameRate);

  Image guide, model, matte;
  matte.resize(kMatteWidth, *height, 1);
  RateLimiter limiter;
  long long written = 0;
  int64_t lastPts = 0;
  for (;;) {
    const AVFrame* frame;
    {
      Stopwatch watch(times.decode);
      frame = reader.next();
    }
    if (!frame) break;
    const double t = seconds(frame->pts, track.timeBase);
    if (!limiter.admits(t)) continue;
    lastPts = frame->pts;
    {
      Stopwatch watch(times.decode);
      scaler.scale(frame, guide, model);
    }
    const uint8_t* mask;
    {
      Stopwatch watch(times.inference);
      mask = segmenter.run(model.pixels.data(), model.stride);
    }
    {
      Stopwatch watch(times.upsample);
      upsampler.upsample(guide.pixels.data(), guide.width, guide.height, guide.stride, mask,
                         segmenter.maskWidth(), segmenter.maskHeight(), segmenter.maskWidth(),
                         matte.pixels.data(), matte.stride, pool);
    }
    {
      Stopwatch watch(times.encode);
      writer.append(matte.pixels.data(), matte.stride, frame->pts);
    }
    ++written;
    if (written % 30 == 0 && options.progress) {
      *options.progress << "Processed " << static_cast<long long>(std::trunc(t)) << " seconds"
                        << std::endl;
    }
    limiter.handled(t);
  }
  {
    Stopwatch watch(times.encode);
    writer.finish(std::max(track.duration, lastPts));
  }
  if (options.timings)
    times.report(*options.timings, written,
                 std::chrono::duration<double>(Clock::now() - started).count());
}

}  // namespace tavolu::segment
