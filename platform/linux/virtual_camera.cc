#include "platform/linux/virtual_camera.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

#include "platform/camera_frame_delivery.h"
#include "platform/linux/pixel_buffer_pool.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libswscale/swscale.h>
}

namespace tavolu {
namespace {

using Clock = std::chrono::steady_clock;  // CLOCK_MONOTONIC, the host clock

constexpr int kPatternWidth = 1920;
constexpr int kPatternHeight = 1080;
constexpr auto kPatternInterval = std::chrono::nanoseconds(1'000'000'000 / 30);

std::string avErrorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

MediaTime hostTime(Clock::time_point t) {
  return MediaTime::fromNanos(
      std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count());
}

// A thread that produces frames until stopped; the subclass says how.
class VirtualCameraSession : public CameraSession {
 public:
  explicit VirtualCameraSession(CameraDelegate delegate) : delivery_(std::move(delegate)) {}
  ~VirtualCameraSession() override { stopRunning(); }

  void startRunning() override {
    std::lock_guard lock(mutex_);
    if (thread_.joinable() || stopped_) return;
    running_ = true;
    thread_ = std::thread([this] { run(); });
  }
  bool isRunning() const override { return running_; }
  void stopRunning() override {
    delivery_.stop();
    {
      std::lock_guard lock(mutex_);
      stopped_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    running_ = false;
  }

 protected:
  virtual void run() = 0;
  // Waits until `deadline`; false when the session was stopped meanwhile.
  bool waitUntil(Clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    return !wake_.wait_until(lock, deadline, [this] { return stopped_; });
  }
  void fail(const Error& error) {
    running_ = false;
    delivery_.runtimeError(error);
  }

  CameraFrameDelivery delivery_;
  PixelBufferPool pool_;

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopped_ = false;
  std::atomic<bool> running_{false};
  std::thread thread_;
};

class PatternSession : public VirtualCameraSession {
 public:
  using VirtualCameraSession::VirtualCameraSession;

 private:
  void run() override {
    auto deadline = Clock::now();
    for (int64_t index = 0;; ++index) {
      if (delivery_.wantsFrame()) {
        auto frame = pool_.acquire(kPatternWidth, kPatternHeight);
        drawTestPattern(*frame, index);
        delivery_.deliver(std::move(frame), hostTime(Clock::now()));
      }
      deadline += kPatternInterval;
      // After a stall, continue from now rather than catching up with a burst.
      if (auto now = Clock::now(); deadline < now - kPatternInterval) deadline = now;
      if (!waitUntil(deadline)) return;
    }
  }
};

struct FormatCloser {
  void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecFreer {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFreer {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFreer {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct ScalerFreer {
  void operator()(SwsContext* s) const { sws_freeContext(s); }
};

class FileSession : public VirtualCameraSession {
 public:
  FileSession(const std::string& path, CameraDelegate delegate)
      : VirtualCameraSession(std::move(delegate)), path_(path) {}

  void open() {
    AVFormatContext* format = nullptr;
    if (int rc = avformat_open_input(&format, path_.c_str(), nullptr, nullptr); rc < 0)
      throw failure("cannot be opened", rc);
    format_.reset(format);
    if (int rc = avformat_find_stream_info(format_.get(), nullptr); rc < 0)
      throw failure("cannot be read", rc);
    const AVCodec* codec = nullptr;
    stream_ = av_find_best_stream(format_.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (stream_ < 0) throw failure("has no video track", stream_);
    decoder_.reset(avcodec_alloc_context3(codec));
    if (!decoder_) throw failure("cannot be decoded", AVERROR(ENOMEM));
    if (int rc = avcodec_parameters_to_context(decoder_.get(), format_->streams[stream_]->codecpar);
        rc < 0)
      throw failure("cannot be decoded", rc);
    if (int rc = avcodec_open2(decoder_.get(), codec, nullptr); rc < 0)
      throw failure("cannot be decoded", rc);
    frame_.reset(av_frame_alloc());
    packet_.reset(av_packet_alloc());
    if (!frame_ || !packet_) throw failure("cannot be decoded", AVERROR(ENOMEM));
  }

 private:
  Error failure(const std::string& what, int rc) const {
    return cameraError(
        CameraErrorCode::failed,
        "The virtual camera file " + path_ + " " + what + " (" + avErrorText(rc) + ").",
        {{"file", path_}});
  }

  void run() override {
    AVStream* stream = format_->streams[stream_];
    const double timeBase = av_q2d(stream->time_base);
    const double fallbackStep =
        stream->avg_frame_rate.num > 0 ? 1.0 / av_q2d(stream->avg_frame_rate) : 1.0 / 30;
    auto start = Clock::now();
    double loopOffset = 0, lastSeconds = -1, firstPts = NAN;
    bool decodedThisLoop = false;
    for (;;) {
      int rc = av_read_frame(format_.get(), packet_.get());
      if (rc == AVERROR_EOF) {
        avcodec_send_packet(decoder_.get(), nullptr);  // drain
      } else if (rc < 0) {
        fail(failure("cannot be read", rc));
        return;
      } else if (packet_->stream_index != stream_) {
        av_packet_unref(packet_.get());
        continue;
      } else {
        rc = avcodec_send_packet(decoder_.get(), packet_.get());
        av_packet_unref(packet_.get());
        if (rc < 0 && rc != AVERROR(EAGAIN)) {
          fail(failure("cannot be decoded", rc));
          return;
        }
      }
      bool endOfFile = false;
      for (;;) {
        int got = avcodec_receive_frame(decoder_.get(), frame_.get());
        if (got == AVERROR(EAGAIN)) break;
        if (got == AVERROR_EOF) {
          endOfFile = true;
          break;
        }
        if (got < 0) {
          fail(failure("cannot be decoded", got));
          return;
        }
        int64_t pts = frame_->best_effort_timestamp;
        double seconds = pts == AV_NOPTS_VALUE ? lastSeconds + fallbackStep : pts * timeBase;
        if (std::isnan(firstPts)) firstPts = seconds;
        seconds = std::max(seconds - firstPts, lastSeconds < 0 ? 0.0 : lastSeconds);
        lastSeconds = seconds;
        decodedThisLoop = true;
        auto due = start + std::chrono::duration_cast<Clock::duration>(
                               std::chrono::duration<double>(loopOffset + seconds));
        if (!waitUntil(due)) return;
        if (delivery_.wantsFrame()) {
          if (auto picture = convert(*frame_)) delivery_.deliver(picture, hostTime(Clock::now()));
        }
        av_frame_unref(frame_.get());
      }
      if (rc == AVERROR_EOF || endOfFile) {
        if (!decodedThisLoop) {
          fail(failure("has no pictures", AVERROR_INVALIDDATA));
          return;
        }
        // Loop: the next pass starts one frame after the last picture of this one.
        loopOffset += lastSeconds + fallbackStep;
        lastSeconds = -1;
        decodedThisLoop = false;
        avcodec_flush_buffers(decoder_.get());
        if (int seek = av_seek_frame(format_.get(), stream_,
                                     stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time,
                                     AVSEEK_FLAG_BACKWARD);
            seek < 0) {
          fail(failure("cannot be looped", seek));
          return;
        }
      }
    }
  }

  std::shared_ptr<PixelBuffer> convert(const AVFrame& frame) {
    if (frame.width <= 0 || frame.height <= 0) return nullptr;
    scaler_.reset(sws_getCachedContext(
        scaler_.release(), frame.width, frame.height, static_cast<AVPixelFormat>(frame.format),
        frame.width, frame.height, AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!scaler_) return nullptr;
    auto picture = pool_.acquire(frame.width, frame.height);
    uint8_t* dst[1] = {picture->bytes.data()};
    int dstStride[1] = {picture->stride};
    if (sws_scale(scaler_.get(), frame.data, frame.linesize, 0, frame.height, dst, dstStride) !=
        frame.height)
      return nullptr;
    return picture;
  }

  std::string path_;
  std::unique_ptr<AVFormatContext, FormatCloser> format_;
  std::unique_ptr<AVCodecContext, CodecFreer> decoder_;
  std::unique_ptr<AVFrame, FrameFreer> frame_;
  std::unique_ptr<AVPacket, PacketFreer> packet_;
  std::unique_ptr<SwsContext, ScalerFreer> scaler_;
  int stream_ = -1;
};

}  // namespace

std::optional<CaptureDevice> virtualCameraDevice(const char* value) {
  if (!value || !*value) return std::nullopt;
  if (std::string(value) == kVirtualPatternId)
    return CaptureDevice{kVirtualPatternId, "Tavolu Virtual Camera"};
  return CaptureDevice{kVirtualFileId, "Tavolu Virtual Camera (" +
                                           std::filesystem::path(value).filename().string() + ")"};
}

std::unique_ptr<CameraSession> openVirtualCamera(const std::string& value,
                                                 CameraDelegate delegate) {
  if (value == kVirtualPatternId) return std::make_unique<PatternSession>(std::move(delegate));
  auto session = std::make_unique<FileSession>(value, std::move(delegate));
  session->open();
  return session;
}

void drawTestPattern(PixelBuffer& frame, int64_t index) {
  // Eight vertical colour bars (white, yellow, cyan, green, magenta, red, blue, black), BGRA.
  static constexpr uint8_t kBars[8][4] = {
      {235, 235, 235, 255}, {16, 235, 235, 255}, {235, 235, 16, 255}, {16, 235, 16, 255},
      {235, 16, 235, 255},  {16, 16, 235, 255},  {235, 16, 16, 255},  {16, 16, 16, 255}};
  const int w = frame.width, h = frame.height;
  if (w <= 0 || h <= 0) return;
  // The first row is built once, then copied to every row.
  uint8_t* first = frame.row(0);
  for (int x = 0; x < w; ++x) std::memcpy(first + x * 4, kBars[x * 8 / w], 4);
  for (int y = 1; y < h; ++y) std::memcpy(frame.row(y), first, static_cast<size_t>(w) * 4);

  // A grey box that bounces left and right and moves down one row per frame.
  const int box = std::max(1, h / 5);
  const int span = std::max(1, w - box);
  int64_t step = (index * 16) % (2 * span);
  int x0 = static_cast<int>(step < span ? step : 2 * span - step);
  int y0 = static_cast<int>(index % std::max(1, h - box));
  for (int y = y0; y < std::min(h, y0 + box); ++y) {
    uint8_t* row = frame.row(y);
    for (int x = x0; x < std::min(w, x0 + box); ++x) {
      row[x * 4 + 0] = row[x * 4 + 1] = row[x * 4 + 2] = 128;
      row[x * 4 + 3] = 255;
    }
  }
}

}  // namespace tavolu
