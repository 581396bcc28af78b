#include "platform/linux/pulse_audio_capture.h"

#include <pulse/pulseaudio.h>

#include <cstring>

#include "platform/linux/audio_clock.h"
#include "platform/media_time.h"

namespace tavolu {
namespace {

constexpr pa_usec_t kFragmentUsec = 20'000;  // buffers of about 20 ms

std::string paText(int code) { return pa_strerror(code); }

Error unreachable(int code) {
  return Error("PulseAudio", code,
               "The sound server could not be reached (" + paText(code) +
                   "). Check that PulseAudio or PipeWire is running.");
}

}  // namespace

struct PulseAudioCapture::Impl {
  Options options;
  Deliver deliver;
  Failed failed;
  pa_threaded_mainloop* loop = nullptr;
  pa_context* context = nullptr;
  pa_stream* stream = nullptr;
  std::string source;
  pa_sample_spec spec{};
  std::optional<AudioClock> clock;
  bool recording = false;  // failures are reported only while recording
  bool failureReported = false;

  // Lookup results.
  std::string defaultSink, defaultSource, monitorOfSink;
  bool sourceFound = false;
  pa_sample_spec sourceSpec{};

  ~Impl() {
    if (!loop) return;
    pa_threaded_mainloop_stop(loop);
    if (stream) pa_stream_unref(stream);
    if (context) {
      pa_context_set_state_callback(context, nullptr, nullptr);
      pa_context_disconnect(context);
      pa_context_unref(context);
    }
    pa_threaded_mainloop_free(loop);
  }

  void signal() { pa_threaded_mainloop_signal(loop, 0); }

  // Waits (lock held) for an operation to finish.
  void await(pa_operation* op) {
    if (!op) return;
    while (pa_operation_get_state(op) == PA_OPERATION_RUNNING) pa_threaded_mainloop_wait(loop);
    pa_operation_unref(op);
  }

  void fail(const Error& error) {
    if (!recording || failureReported) return;
    failureReported = true;
    if (failed) failed(error);
  }

  void connect() {
    loop = pa_threaded_mainloop_new();
    if (!loop) throw unreachable(PA_ERR_INTERNAL);
    context = pa_context_new(pa_threaded_mainloop_get_api(loop), "Tavolu");
    if (!context) throw unreachable(PA_ERR_INTERNAL);
    pa_context_set_state_callback(
        context,
        [](pa_context* c, void* self) {
          auto* s = static_cast<Impl*>(self);
          pa_context_state_t state = pa_context_get_state(c);
          if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED)
            s->fail(Error("PulseAudio", pa_context_errno(c),
                          "The connection to the sound server was lost (" +
                              paText(pa_context_errno(c)) + ")."));
          s->signal();
        },
        this);
    const char* server = options.server ? options.server->c_str() : nullptr;
    if (pa_context_connect(context, server, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
      throw unreachable(pa_context_errno(context));
    if (pa_threaded_mainloop_start(loop) < 0) throw unreachable(PA_ERR_INTERNAL);
    pa_threaded_mainloop_lock(loop);
    for (;;) {
      pa_context_state_t state = pa_context_get_state(context);
      if (state == PA_CONTEXT_READY) break;
      if (!PA_CONTEXT_IS_GOOD(state)) {
        int code = pa_context_errno(context);
        pa_threaded_mainloop_unlock(loop);
        throw unreachable(code);
      }
      pa_threaded_mainloop_wait(loop);
    }
    pa_threaded_mainloop_unlock(loop);
  }

  // Finds the source to record and its sample format (lock held).
  void resolve() {
    await(pa_context_get_server_info(
        context,
        [](pa_context*, const pa_server_info* i, void* self) {
          auto* s = static_cast<Impl*>(self);
          if (i) {
            s->defaultSink = i->default_sink_name ? i->default_sink_name : "";
            s->defaultSource = i->default_source_name ? i->default_source_name : "";
          }
          s->signal();
        },
        this));
    if (options.source == Source::systemAudio) {
      if (defaultSink.empty())
        throw Error("PulseAudio", PA_ERR_NOENTITY,
                    "The sound server has no output device whose sound could be recorded.");
      await(pa_context_get_sink_info_by_name(
          context, defaultSink.c_str(),
          [](pa_context*, const pa_sink_info* i, int eol, void* self) {
            auto* s = static_cast<Impl*>(self);
            if (i && i->monitor_source_name) s->monitorOfSink = i->monitor_source_name;
            s->signal();
          },
          this));
      if (monitorOfSink.empty())
        throw Error("PulseAudio", PA_ERR_NOENTITY,
                    "The output device \"" + defaultSink + "\" has no monitor to record from.");
      source = monitorOfSink;
    } else {
      bool named = options.device && !options.device->empty() && *options.device != "default";
      source = named ? *options.device : defaultSource;
      if (source.empty())
        throw Error("PulseAudio", PA_ERR_NOENTITY, "The sound server has no microphone.");
    }
    await(pa_context_get_source_info_by_name(
        context, source.c_str(),
        [](pa_context*, const pa_source_info* i, int eol, void* self) {
          auto* s = static_cast<Impl*>(self);
          if (i) {
            s->sourceFound = true;
            s->sourceSpec = i->sample_spec;
          }
          s->signal();
        },
        this));
    if (!sourceFound)
      throw Error("PulseAudio", PA_ERR_NOENTITY,
                  "The microphone \"" + source + "\" is not connected.");
    spec.format = PA_SAMPLE_FLOAT32NE;
    spec.rate = options.sampleRate > 0 ? uint32_t(options.sampleRate) : sourceSpec.rate;
    spec.channels = options.channels > 0 ? uint8_t(std::min(options.channels, int(PA_CHANNELS_MAX)))
                                         : sourceSpec.channels;
    if (!pa_sample_spec_valid(&spec))
      throw Error("PulseAudio", PA_ERR_NOTSUPPORTED,
                  "The sound format " + std::to_string(spec.rate) + " Hz, " +
                      std::to_string(spec.channels) + " channels cannot be recorded.");
    clock.emplace(int(spec.rate));
  }

  void read(pa_stream* s) {
    size_t frameBytes = pa_frame_size(&spec);
    while (pa_stream_readable_size(s) > 0) {
      const void* data = nullptr;
      size_t bytes = 0;
      if (pa_stream_peek(s, &data, &bytes) < 0) {
        fail(Error("PulseAudio", pa_context_errno(context),
                   "Audio from \"" + source + "\" could not be read (" +
                       paText(pa_context_errno(context)) + ")."));
        return;
      }
      if (bytes == 0) return;
      if (!data) {
        // A hole (data lost to an overrun): the next buffer starts a new run of times.
        pa_stream_drop(s);
        clock->reset();
        continue;
      }
      pa_usec_t latency = 0;
      int negative = 0;
      int64_t latencyNs;
      if (pa_stream_get_latency(s, &latency, &negative) == 0)
        latencyNs = negative ? 0 : int64_t(latency) * 1000;
      else  // no timing information yet: at least what waits in the buffer
        latencyNs = int64_t(pa_bytes_to_usec(pa_stream_readable_size(s), &spec)) * 1000;
      int64_t now = hostTimeNow().value;
      AudioSampleBuffer buffer;
      buffer.format = AudioFormat::floatInterleaved(spec.rate, spec.channels);
      buffer.frames = int64_t(bytes / frameBytes);
      buffer.samples.resize(size_t(buffer.frames) * spec.channels);
      std::memcpy(buffer.samples.data(), data, size_t(buffer.frames) * frameBytes);
      buffer.pts = MediaTime::fromNanos(clock->stamp(now, latencyNs, buffer.frames));
      pa_stream_drop(s);
      if (buffer.frames > 0 && deliver) deliver(std::move(buffer));
    }
  }

  void startStream() {
    pa_channel_map map;
    pa_channel_map_init_auto(&map, spec.channels, PA_CHANNEL_MAP_DEFAULT);
    std::string name = options.source == Source::systemAudio ? "System audio" : "Microphone";
    stream =
        pa_stream_new(context, name.c_str(), &spec, pa_channel_map_valid(&map) ? &map : nullptr);
    if (!stream)
      throw Error("PulseAudio", pa_context_errno(context),
                  "Recording from \"" + source + "\" could not be set up (" +
                      paText(pa_context_errno(context)) + ").");
    pa_stream_set_state_callback(
        stream,
        [](pa_stream* st, void* self) {
          auto* s = static_cast<Impl*>(self);
          pa_stream_state_t state = pa_stream_get_state(st);
          if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED)
            s->fail(Error("PulseAudio", pa_context_errno(s->context),
                          "Recording from \"" + s->source + "\" stopped (" +
                              paText(pa_context_errno(s->context)) + ")."));
          s->signal();
        },
        this);
    pa_stream_set_read_callback(
        stream, [](pa_stream* st, size_t, void* self) { static_cast<Impl*>(self)->read(st); },
        this);
    // Data lost to a full buffer: the times start over with the next buffer.
    pa_stream_set_overflow_callback(
        stream, [](pa_stream*, void* self) { static_cast<Impl*>(self)->clock->reset(); }, this);
    pa_buffer_attr attr;
    std::memset(&attr, 0xff, sizeof attr);  // server defaults for everything but the fragment
    attr.fragsize = uint32_t(pa_usec_to_bytes(kFragmentUsec, &spec));
    auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING |
                                   PA_STREAM_AUTO_TIMING_UPDATE);
    if (pa_stream_connect_record(stream, source.c_str(), &attr, flags) < 0)
      throw Error("PulseAudio", pa_context_errno(context),
                  "Recording from \"" + source + "\" could not start (" +
                      paText(pa_context_errno(context)) + ").");
    for (;;) {
      pa_stream_state_t state = pa_stream_get_state(stream);
      if (state == PA_STREAM_READY) break;
      if (!PA_STREAM_IS_GOOD(state))
        throw Error("PulseAudio", pa_context_errno(context),
                    "Recording from \"" + source + "\" could not start (" +
                        paText(pa_context_errno(context)) + ").");
      pa_threaded_mainloop_wait(loop);
    }
  }

  void dropStream() {
    if (!stream) return;
    pa_stream_set_read_callback(stream, nullptr, nullptr);
    pa_stream_set_overflow_callback(stream, nullptr, nullptr);
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_disconnect(stream);
    pa_stream_unref(stream);
    stream = nullptr;
  }
};

PulseAudioCapture::PulseAudioCapture(Options options, Deliver deliver, Failed failed)
    : impl_(std::make_unique<Impl>()) {
  impl_->options = std::move(options);
  impl_->deliver = std::move(deliver);
  impl_->failed = std::move(failed);
  impl_->connect();
  pa_threaded_mainloop_lock(impl_->loop);
  try {
    impl_->resolve();
  } catch (...) {
    pa_threaded_mainloop_unlock(impl_->loop);
    throw;
  }
  pa_threaded_mainloop_unlock(impl_->loop);
}

PulseAudioCapture::~PulseAudioCapture() { stop(); }

void PulseAudioCapture::start() {
  Impl& s = *impl_;
  pa_threaded_mainloop_lock(s.loop);
  if (s.stream) {
    pa_threaded_mainloop_unlock(s.loop);
    return;
  }
  if (pa_context_get_state(s.context) != PA_CONTEXT_READY) {
    int code = pa_context_errno(s.context);
    pa_threaded_mainloop_unlock(s.loop);
    throw unreachable(code);
  }
  try {
    s.startStream();
  } catch (...) {
    s.dropStream();
    pa_threaded_mainloop_unlock(s.loop);
    throw;
  }
  s.recording = true;
  pa_threaded_mainloop_unlock(s.loop);
}

void PulseAudioCapture::stop() {
  Impl& s = *impl_;
  if (!s.loop) return;
  pa_threaded_mainloop_lock(s.loop);
  s.recording = false;
  s.dropStream();
  pa_threaded_mainloop_unlock(s.loop);
}

const std::string& PulseAudioCapture::sourceName() const { return impl_->source; }

AudioFormat PulseAudioCapture::format() const {
  return AudioFormat::floatInterleaved(impl_->spec.rate, impl_->spec.channels);
}

}  // namespace tavolu
