#include "segment/main/segment.h"

#include <chrono>
#include <cmath>
#include <exception>
#include <iomanip>
#include <thread>

#include "platform/error.h"
#include "segment/engine/worker_pool.h"
#include "segment/main/handoff.h"
#include "segment/matte/bilateral_upsampler.h"
#include "segment/matte/frame_rules.h"
#include "segment/matte/person_segmenter.h"
#include "segment/video/frame_scaler.h"
#include "segment/video/matte_writer.h"
#include "segment/video/video_reader.h"

namespace tavolu::segment {

namespace {

using Clock = std::chrono::steady_clock;

// Time spent in each stage, for the benchmark. The two stage threads overlap, so the shares
// of the wall time can add up to more than 100%.
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

// A segmented frame on its way to the refiner.
struct Segmented {
  Image guide;                // luma at the matte's size
  std::vector<uint8_t> mask;  // the model's mask
  int64_t pts = 0;
  double seconds = 0;
};

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
  FrameScaler scaler(track.clockwiseRotation, kMatteWidth, *height, segmenter.inputWidth(),
                     segmenter.inputHeight());
  MatteWriter writer(output, kMatteWidth, *height, track.timeBase, track.frameRate);

  // Two stages overlap: this thread reads, scales and segments frame n + 1 while the refiner
  // thread upsamples and encodes frame n.
  Handoff<Segmented> handoff(2);
  // Used frames go back to this thread, so their buffers are not allocated anew each time.
  Handoff<Segmented> spare(4);
  std::exception_ptr refinerError;
  long long written = 0;
  std::thread refiner([&] {
    try {
      WorkerPool inline_(1);  // the other core is busy with the first stage
      BilateralUpsampler upsampler;
      Image matte;
      matte.resize(kMatteWidth, *height, 1);
      while (auto item = handoff.pop()) {
        {
          Stopwatch watch(times.upsample);
          upsampler.upsample(item->guide.pixels.data(), item->guide.width, item->guide.height,
                             item->guide.stride, item->mask.data(), segmenter.maskWidth(),
                             segmenter.maskHeight(), segmenter.maskWidth(), matte.pixels.data(),
                             matte.stride, inline_);
        }
        {
          Stopwatch watch(times.encode);
          writer.append(matte.pixels.data(), matte.stride, item->pts);
        }
        ++written;
        if (written % 30 == 0 && options.progress) {
          *options.progress << "Processed " << static_cast<long long>(std::trunc(item->seconds))
                            << " seconds" << std::endl;
        }
        spare.tryPush(std::move(*item));
      }
    } catch (...) {
      refinerError = std::current_exception();
      handoff.stop();
    }
  });
  // Whatever happens on this thread, the refiner is stopped and joined before leaving.
  struct Joiner {
    Handoff<Segmented>& handoff;
    std::thread& thread;
    ~Joiner() {
      if (thread.joinable()) {
        handoff.stop();
        thread.join();
      }
    }
  } joiner{handoff, refiner};

  RateLimiter limiter;
  int64_t lastPts = 0;
  Image model;
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
    Segmented item = spare.tryPop().value_or(Segmented{});
    item.pts = frame->pts;
    item.seconds = t;
    {
      Stopwatch watch(times.decode);
      scaler.scale(frame, item.guide, model);
    }
    {
      Stopwatch watch(times.inference);
      const uint8_t* mask = segmenter.run(model.pixels.data(), model.stride);
      item.mask.assign(mask,
                       mask + static_cast<size_t>(segmenter.maskWidth()) * segmenter.maskHeight());
    }
    if (!handoff.push(std::move(item))) break;  // the refiner failed
    limiter.handled(t);
  }
  handoff.finish();
  refiner.join();
  if (refinerError) std::rethrow_exception(refinerError);
  {
    Stopwatch watch(times.encode);
    writer.finish(std::max(track.duration, lastPts));
  }
  if (options.timings)
    times.report(*options.timings, written,
                 std::chrono::duration<double>(Clock::now() - started).count());
}

}  // namespace tavolu::segment
