#include "capture/sinks/video_sink.h"

#include <cstring>

#include "capture/sinks/libav_error.h"

namespace tavolu {
namespace {

// Track time base: 1/90000 where it holds whole frames, else a multiple of the frame rate.
AVRational trackTimeBase(int fps) {
  if (fps > 0 && 90000 % fps == 0) return {1, 90000};
  if (fps > 0 && fps <= INT32_MAX / 1000) return {1, fps * 1000};
  return {1, 90000};
}

std::string fileName(const std::string& path) {
  auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool wellFormed(const PixelBuffer& p) {
  return p.width > 0 && p.height > 0 && p.stride >= p.width * 4 &&
         p.bytes.size() >= static_cast<size_t>(p.stride) * p.height;
}

}  // namespace

VideoSink::VideoSink(const std::string& path, int width, int height, int fps, MediaTime origin,
                     size_t queueCapacity)
    : path_(path), origin_(origin), timeBase_(trackTimeBase(fps)), queue_(queueCapacity) {
  av::quietLibavLogs();
  if (!origin.valid())
    throw av::error("The video timeline of " + path + " has no valid start time", AVERROR(EINVAL));
  FragmentedMp4Writer::Options options;
  options.format = "mp4";
  options.fragmentAtKeyFrames = true;
  writer_ = std::make_unique<FragmentedMp4Writer>(path, options);
  try {
    encoder_ = std::make_unique<H264Encoder>(width, height, fps, timeBase_, path);
    writer_->addTrack(encoder_->context());
    writer_->start();
  } catch (...) {
    writer_->discard();
    throw;
  }
  pending_.reset(av_packet_alloc());
  if (!pending_) throw av::error("Could not set up " + path, AVERROR(ENOMEM));
  thread_ = std::thread([this] { encodeLoop(); });
}

VideoSink::~VideoSink() {
  if (thread_.joinable()) {
    queue_.clear();
    queue_.close();
    thread_.join();
  }
}

void VideoSink::append(PixelBufferRef frame, MediaTime pts) { enqueue(frame, pts, false); }

bool VideoSink::enqueue(const PixelBufferRef& frame, MediaTime pts, bool wait) {
  if (finished_ || !frame || !wellFormed(*frame) || !pts.valid() || pts < origin_) return false;
  if (lastPTS_.valid() && pts <= lastPTS_) return false;
  if (failed_) return false;  // the writer failed; finish() reports it
  int64_t ticks = (pts - origin_).convertScale(timeBase_.den).value;
  // Two times closer than one tick still get distinct, increasing track times.
  if (ticks <= lastTicks_) ticks = lastTicks_ + 1;
  bool queued = wait ? queue_.push({frame, ticks}) : queue_.tryPush({frame, ticks});
  if (!queued) {
    ++dropped_;
    return false;
  }
  last_ = frame;
  lastPTS_ = pts;
  lastTicks_ = ticks;
  ++frames_;
  return true;
}

void VideoSink::finish(MediaTime end, int fps) {
  if (finished_) return;
  queue_.release();  // a held encoder thread must drain before the end
  if (fps > 0 && last_) {
    MediaTime tail = end - MediaTime::make(1, fps);
    // Compared on the track's clock: a tail within one tick of the last picture (host times
    // are rounded to nanoseconds) is that picture, not a new one.
    int64_t tailTicks = (tail - origin_).convertScale(timeBase_.den).value;
    // The encoder thread drains the queue, so waiting for room here always ends.
    if (tail > lastPTS_ && tailTicks > lastTicks_) enqueue(last_, tail, true);
  }
  finished_ = true;
  queue_.close();
  thread_.join();
  // The encoder thread has stopped: the end applies to what the encoder still holds.
  endTicks_ = end.valid() ? (end - origin_).convertScale(timeBase_.den).value : INT64_MIN;

  if (!failed_) {
    try {
      encoder_->flush([this](AVPacket* p) { writePacket(p); });
      if (hasPending_ && pending_->pts < endTicks_) {
        pending_->duration = endTicks_ - pending_->pts;
        writer_->write(pending_.get(), timeBase_);
        ++written_;
      }
      hasPending_ = false;
      writer_->finish();
    } catch (const Error& e) {
      fail(e);
    }
  }
  last_.reset();
  if (failure_) throw *failure_;
  if (written_ == 0)
    throw Error("Capture", 12, "Video writer did not finish.",
                {{"reason", "no frame lies between the start and the end of " + fileName(path_)}});
}

void VideoSink::encodeLoop() {
  while (auto item = queue_.pop()) {
    if (!failed_) {
      try {
        encoder_->encode(*item->frame, item->pts, [this](AVPacket* p) { writePacket(p); });
      } catch (const Error& e) {
        fail(e);
      } catch (const std::exception& e) {
        fail(Error("Capture", 12, "Video writer did not finish.", {{"reason", e.what()}}));
      }
    }
    item.reset();
    queue_.done();
  }
}

void VideoSink::writePacket(AVPacket* packet) {
  // Without B-frames decode order is presentation order: a packet's duration reaches to the
  // next one's time, and the last one's to the end of the timeline.
  if (packet->pts >= endTicks_) return;
  if (hasPending_) {
    pending_->duration = packet->pts - pending_->pts;
    writer_->write(pending_.get(), timeBase_);
    ++written_;
  }
  av_packet_unref(pending_.get());
  av::check(av_packet_ref(pending_.get(), packet), "Could not keep an encoded frame");
  hasPending_ = true;
}

void VideoSink::fail(const Error& error) {
  std::lock_guard lock(failureMutex_);
  if (!failure_) failure_ = error;
  failed_ = true;
}

}  // namespace tavolu
