#include "capture/sinks/audio_sink.h"

#include <algorithm>
#include <cmath>

#include "capture/sinks/aac_settings.h"
#include "capture/sinks/libav_error.h"

namespace tavolu {
namespace {

std::string lastComponent(const std::string& path) {
  auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool sameFormat(const AudioFormat& a, const AudioFormat& b) {
  return a.sampleRate == b.sampleRate && a.formatId == b.formatId &&
         a.formatFlags == b.formatFlags && a.channelsPerFrame == b.channelsPerFrame &&
         a.bitsPerChannel == b.bitsPerChannel;
}

// Frames from the origin to `t` at `rate`.
int64_t framesSince(MediaTime origin, MediaTime t, double rate) {
  MediaTime d = t - origin;
  return std::llround(static_cast<double>(d.value) / d.timescale * rate);
}

}  // namespace

double AudioSink::encodeRate(double sourceRate, int) {
  return chooseSampleRate(sourceRate, aacEncoderSampleRates());
}

AudioSink::AudioSink(const std::string& path, MediaTime origin, const AudioSampleBuffer& first,
                     size_t queueCapacity)
    : path_(path),
      name_(lastComponent(path)),
      origin_(origin),
      timeline_(0),
      queue_(queueCapacity) {
  av::quietLibavLogs();
  if (!first.format)
    throw Error(
        "Capture.Audio", 13,
        "Audio encoder could not start for " + name_ + " (the first buffer has no format).");
  source_ = *first.format;
  const uint32_t channels = source_.channelsPerFrame;

  FragmentedMp4Writer::Options options;
  options.format = "ipod";  // M4A
  options.headerWithFirstFragment = true;
  options.maxFragmentMicros = 2'000'000;
  writer_ = std::make_unique<FragmentedMp4Writer>(path, options);
  try {
    if (channels >= 3) {
      auto unsupported = [&](const std::string& reason) {
        return Error("Capture.Audio", 14,
                     "Unsupported " + std::to_string(channels) + "-channel audio format for " +
                         name_ + " (" + std::to_string(source_.bitsPerChannel) + "-bit, flags " +
                         std::to_string(source_.formatFlags) + ").",
                     {{"reason", reason}});
      };
      // The capture delivers interleaved 32-bit float; nothing else can be mixed down.
      if (!source_.isInterleavedFloat() || !(source_.sampleRate >= 1))
        throw unsupported("only interleaved 32-bit float linear PCM is mixed down");
      try {
        mixer_ = std::make_unique<DownMixer>(static_cast<int>(channels), source_.sampleRate);
      } catch (const Error& e) {
        throw unsupported(e.localizedDescription());
      }
    }
    outputChannels_ = mixer_ ? 1 : static_cast<int>(channels);
    encodeRate_ = encodeRate(source_.sampleRate, outputChannels_);
    bitRate_ = aacBitRate(encodeRate_, outputChannels_);
    try {
      if (!mixer_ && !source_.isInterleavedFloat())
        throw av::error("The source is not interleaved 32-bit float linear PCM", AVERROR(EINVAL));
      encoder_ = std::make_unique<AacEncoder>(outputChannels_, source_.sampleRate, encodeRate_,
                                              bitRate_, *writer_);
      writer_->addTrack(encoder_->context());
      writer_->start();
    } catch (const Error& e) {
      throw Error("Capture.Audio", 13,
                  "Audio encoder could not start for " + name_ + " (" +
                      std::to_string(static_cast<int64_t>(source_.sampleRate)) + " Hz, " +
                      std::to_string(channels) + " channels).",
                  {{"NSUnderlyingError", e.description()}});
    }
  } catch (...) {
    encoder_.reset();
    writer_->discard();
    throw;
  }
  timeline_ = AudioTimeline(std::llround(kToleranceSeconds * source_.sampleRate));
  thread_ = std::thread([this] { encodeLoop(); });
}

AudioSink::~AudioSink() {
  if (thread_.joinable()) {
    queue_.clear();
    queue_.close();
    thread_.join();
  }
}

void AudioSink::append(const AudioSampleBuffer& buffer) {
  if (finished_) return;
  const AudioFormat& format = buffer.format ? *buffer.format : source_;
  bool usable =
      sameFormat(format, source_) && buffer.pts.valid() && buffer.frames >= 0 &&
      buffer.samples.size() >= static_cast<size_t>(buffer.frames) * format.channelsPerFrame;
  // A buffer that cannot be placed or read is lost like one that fails to mix down.
  if (!usable || (mixer_ && buffer.frames < 1)) {
    ++dropped_;
    return;
  }
  if (failed_) return;  // the writer failed; finish() reports it
  if (!queue_.tryPush(buffer)) {
    ++dropped_;
    return;
  }
  ++samples_;
}

void AudioSink::finish(MediaTime end) {
  if (finished_) return;
  queue_.release();  // a held encoder thread must drain before the end
  finished_ = true;
  int64_t endFrame =
      end.valid() ? std::max<int64_t>(0, framesSince(origin_, end, source_.sampleRate)) : 0;
  endFrame_ = endFrame;
  queue_.close();
  thread_.join();
  if (!failed_) {
    try {
      int64_t total =
          end.valid() ? std::max<int64_t>(0, framesSince(origin_, end, encodeRate_)) : 0;
      encoder_->finish(total);
      writer_->finish();
    } catch (const Error& e) {
      fail(e);
    }
  }
  if (failure_) throw *failure_;
}

void AudioSink::encodeLoop() {
  while (auto buffer = queue_.pop()) {
    if (!failed_) {
      try {
        encodeBuffer(*buffer);
      } catch (const Error& e) {
        fail(e);
      } catch (const std::exception& e) {
        fail(Error("Capture", 13, {}, {{"reason", e.what()}}));
      }
    }
    buffer.reset();
    queue_.done();
  }
}

void AudioSink::encodeBuffer(const AudioSampleBuffer& buffer) {
  const float* data = buffer.samples.data();
  int channels = outputChannels_;
  std::optional<std::vector<float>> mono;
  if (mixer_) {
    mono = mixer_->mix(data, buffer.frames);
    if (!mono) {
      ++dropped_;
      return;
    }
    data = mono->data();
  }
  int64_t start = framesSince(origin_, buffer.pts, source_.sampleRate);
  AudioTimeline::Placement place = timeline_.place(start, buffer.frames);
  // Silence in pieces, and never past the end once finish() has named it: a buffer stamped
  // far in the future cannot keep the encoder busy.
  for (int64_t at = start - place.silence, left = place.silence; left > 0 && at < endFrame_;) {
    int64_t n = std::min<int64_t>({left, int64_t{48000}, endFrame_.load() - at});
    encoder_->pushSilence(n);
    at += n;
    left -= n;
  }
  int64_t frames = buffer.frames - place.skip;
  if (frames > 0) encoder_->push(data + place.skip * channels, frames);
}

void AudioSink::fail(const Error& error) {
  std::lock_guard lock(failureMutex_);
  if (!failure_) failure_ = error;
  failed_ = true;
}

}  // namespace tavolu
