#include "platform/linux/x11_screen_stream.h"

#include <algorithm>
#include <atomic>

#include "platform/linux/frame_pacer.h"
#include "platform/linux/frame_queue_limit.h"
#include "platform/linux/pulse_audio_capture.h"
#include "platform/linux/x11_frame_source.h"

namespace tavolu {

// The one road from the stream's threads to the delegate. Every sample and the stop report
// travel through `post` and are handed over only while the delivery is open; closing it waits
// for a handover in progress (unless the delegate itself closes it from inside one), so after
// close() the delegate hears nothing more. The stream's own threads never wait for the lock:
// a delegate that stops the stream from inside a handover cannot deadlock with them.
class X11ScreenStream::Delivery : public std::enable_shared_from_this<Delivery> {
 public:
  Delivery(StreamDelegate& delegate, QueuePost post, int depth)
      : delegate_(&delegate), post_(std::move(post)), limit_(depth) {}

  // A screen frame; false when `queueDepth` frames already wait (the frame is dropped).
  bool offerFrame(StreamSample sample) {
    if (!limit_.tryEnter()) return false;
    post_([self = shared_from_this(), sample = std::move(sample)] {
      self->limit_.leave();
      self->hand([&](StreamDelegate& d) { d.streamDidOutput(sample, StreamOutputType::screen); });
    });
    return true;
  }

  void offerAudio(StreamSample sample, StreamOutputType type) {
    post_([self = shared_from_this(), sample = std::move(sample), type] {
      self->hand([&](StreamDelegate& d) { d.streamDidOutput(sample, type); });
    });
  }

  // The stream ended on its own: reported once, and not at all after close().
  void stopped(const Error& error) {
    if (closed_.load() || stopReported_.exchange(true)) return;
    post_([self = shared_from_this(), error] {
      self->hand([&](StreamDelegate& d) {
        self->closed_ = true;  // nothing follows the stop report
        d.streamDidStop(error);
      });
    });
  }

  void close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }

  uint64_t dropped() const { return limit_.dropped(); }

 private:
  template <typename Fn>
  void hand(Fn fn) {
    std::lock_guard lock(mutex_);
    if (!closed_) fn(*delegate_);
  }

  StreamDelegate* delegate_;
  QueuePost post_;
  FrameQueueLimit limit_;
  std::recursive_mutex mutex_;
  std::atomic<bool> closed_{false};
  std::atomic<bool> stopReported_{false};
};

X11ScreenStream::X11ScreenStream(ContentFilter filter, StreamConfiguration config,
                                 StreamDelegate& delegate, QueuePost post,
                                 std::optional<std::string> pulseServer)
    : filter_(std::move(filter)),
      config_(std::move(config)),
      pulseServer_(std::move(pulseServer)),
      delivery_(std::make_shared<Delivery>(delegate, std::move(post), config_.queueDepth)) {}

X11ScreenStream::~X11ScreenStream() {
  try {
    stopCapture();
  } catch (...) {
  }
}

void X11ScreenStream::addOutput(StreamOutputType type) {
  std::lock_guard lifecycle(lifecycle_);
  if (state_ != State::idle)
    throw Error("X11", 4, "Outputs can only be added before the stream starts.");
  if (type == StreamOutputType::screen) {
    screen_ = true;
    return;
  }
  PulseAudioCapture::Options options;
  options.server = pulseServer_;
  if (type == StreamOutputType::audio) {
    options.source = PulseAudioCapture::Source::systemAudio;
    options.sampleRate = config_.sampleRate;
    options.channels = config_.channelCount;
  } else if (type == StreamOutputType::microphone) {
    options.source = PulseAudioCapture::Source::microphone;
    options.device = config_.microphoneCaptureDeviceId;
  } else {
    throw Error("X11", 4, "Unknown stream output type " + std::to_string(int(type)) + ".");
  }
  std::weak_ptr<Delivery> delivery = delivery_;
  audio_.push_back(std::make_unique<PulseAudioCapture>(
      options,
      [delivery, type](AudioSampleBuffer buffer) {
        if (auto d = delivery.lock()) {
          StreamSample sample;
          sample.pts = buffer.pts;
          sample.audio = std::move(buffer);
          d->offerAudio(std::move(sample), type);
        }
      },
      [delivery](const Error& error) {
        if (auto d = delivery.lock()) d->stopped(error);
      }));
}

void X11ScreenStream::startCapture() {
  std::lock_guard lifecycle(lifecycle_);
  if (state_ == State::running) return;
  if (state_ == State::stopped) throw Error("X11", 4, "A stopped stream cannot be started again.");
  if (screen_) source_ = std::make_unique<X11FrameSource>(filter_, config_);
  try {
    for (auto& a : audio_) a->start();
  } catch (...) {
    for (auto& a : audio_) a->stop();
    source_.reset();
    throw;
  }
  state_ = State::running;
  if (source_) thread_ = std::thread([this] { run(); });
}

void X11ScreenStream::stopCapture() {
  // Closed before the lifecycle lock is taken: a delegate that stops the stream from inside a
  // delivery while another thread stops it too must not wait on that thread.
  delivery_->close();
  std::lock_guard lifecycle(lifecycle_);
  if (state_ == State::stopped) return;
  {
    std::lock_guard lock(mutex_);
    stopRequested_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  for (auto& a : audio_) a->stop();
  source_.reset();
  state_ = State::stopped;
}

X11ScreenStream::Statistics X11ScreenStream::statistics() const {
  std::lock_guard lock(statsMutex_);
  Statistics s = stats_;
  s.dropped = delivery_->dropped();
  return s;
}

void X11ScreenStream::run() {
  using Clock = FramePacer::Clock;
  MediaTime interval = config_.minimumFrameInterval;
  double seconds = interval.valid() && interval.seconds() > 0 ? interval.seconds() : 1.0 / 30;
  auto step = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(std::clamp(seconds, 0.001, 3600.0)));
  FramePacer pacer(step, Clock::now());

  std::unique_lock lock(mutex_);
  while (!wake_.wait_until(lock, pacer.deadline(), [this] { return stopRequested_; })) {
    lock.unlock();
    try {
      X11FrameSource::Frame frame = source_->next();
      if (frame.pixels) {
        StreamSample sample;
        sample.pts = frame.pts;
        sample.pixels = frame.pixels;
        sample.status = static_cast<int64_t>(frame.status);
        sample.screenRect = frame.screenRect;
        bool taken = delivery_->offerFrame(std::move(sample));
        if (!taken) source_->dropped(frame);
        std::lock_guard statsLock(statsMutex_);
        if (taken) (frame.status == FrameStatus::complete ? stats_.complete : stats_.idle)++;
        stats_.pictureTime = source_->pictureTime();
      }
    } catch (const Error& error) {
      delivery_->stopped(error);
      return;
    } catch (const std::exception& e) {
      delivery_->stopped(Error("X11", 5, std::string("Screen capture failed: ") + e.what()));
      return;
    }
    lock.lock();
    pacer.advance(Clock::now());
  }
}

}  // namespace tavolu
