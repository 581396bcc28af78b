#include "speech/audio_decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <filesystem>
#include <mutex>

#include "platform/error.h"

namespace tavolu::speech {
namespace {

constexpr const char* kDomain = "Speech";

struct FormatCloser {
  void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecFreer {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct ResamplerFreer {
  void operator()(SwrContext* c) const { swr_free(&c); }
};
struct PacketFreer {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFreer {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};

std::string avText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

std::string displayName(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}

Error audioError(int code, std::string message, int avCode = 0) {
  std::map<std::string, std::string> info;
  if (avCode) info["AVError"] = avText(avCode);
  return Error(kDomain, code, std::move(message), std::move(info));
}

}  // namespace

struct AudioDecoder::Impl {
  std::string name;
  std::unique_ptr<AVFormatContext, FormatCloser> format;
  std::unique_ptr<AVCodecContext, CodecFreer> codec;
  std::unique_ptr<SwrContext, ResamplerFreer> resampler;
  std::unique_ptr<AVPacket, PacketFreer> packet{av_packet_alloc()};
  std::unique_ptr<AVFrame, FrameFreer> frame{av_frame_alloc()};
  int stream = -1;
  bool inputDone = false;    // no more packets to send
  bool decoderDone = false;  // the decoder has given all its frames
  bool finished = false;     // the resampler has been flushed

  [[noreturn]] void fail(int avCode) {
    throw audioError(3, "The audio in “" + name + "” could not be read: " + avText(avCode) + ".",
                     avCode);
  }

  // Resamples `in` (null to flush) and appends the result.
  void convert(const AVFrame* in, std::vector<int16_t>& out) {
    int inSamples = in ? in->nb_samples : 0;
    int room = swr_get_out_samples(resampler.get(), inSamples);
    if (room < 0) fail(room);
    size_t at = out.size();
    out.resize(at + static_cast<size_t>(room));
    uint8_t* dst = reinterpret_cast<uint8_t*>(out.data() + at);
    int n = swr_convert(resampler.get(), &dst, room,
                        in ? const_cast<const uint8_t**>(in->extended_data) : nullptr, inSamples);
    if (n < 0) {
      out.resize(at);
      fail(n);
    }
    out.resize(at + static_cast<size_t>(n));
  }

  // The resampler follows the frames: a stream may change rate or layout midway.
  void configureFor(const AVFrame* f) {
    SwrContext* raw = nullptr;
    AVChannelLayout inLayout{};
    if (f->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || f->ch_layout.nb_channels == 0)
      av_channel_layout_default(&inLayout, f->ch_layout.nb_channels ? f->ch_layout.nb_channels
                                                                    : codec->ch_layout.nb_channels);
    else
      av_channel_layout_copy(&inLayout, &f->ch_layout);
    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    int rc =
        swr_alloc_set_opts2(&raw, &mono, AV_SAMPLE_FMT_S16, kSampleRate, &inLayout,
                            static_cast<AVSampleFormat>(f->format), f->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&inLayout);
    std::unique_ptr<SwrContext, ResamplerFreer> fresh(raw);
    if (rc < 0 || (rc = swr_init(fresh.get())) < 0) fail(rc);
    resampler = std::move(fresh);
  }

  bool sameFormat(const AVFrame* f) const {
    return resampler && av_channel_layout_compare(&f->ch_layout, &lastLayout) == 0 &&
           f->sample_rate == lastRate && f->format == lastFormat;
  }
  void remember(const AVFrame* f) {
    av_channel_layout_uninit(&lastLayout);
    av_channel_layout_copy(&lastLayout, &f->ch_layout);
    lastRate = f->sample_rate;
    lastFormat = f->format;
  }
  ~Impl() { av_channel_layout_uninit(&lastLayout); }

  AVChannelLayout lastLayout{};
  int lastRate = 0, lastFormat = -1;
};

AudioDecoder::AudioDecoder(const std::string& path) : impl_(std::make_unique<Impl>()) {
  // Standard error carries only the program's one message; FFmpeg's own notes stay quiet.
  static std::once_flag quiet;
  std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
  Impl& d = *impl_;
  d.name = displayName(path);
  if (!d.packet || !d.frame) throw audioError(1, "Out of memory while opening “" + d.name + "”.");

  AVFormatContext* raw = nullptr;
  int rc = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
  if (rc < 0)
    throw audioError(1, "The audio file “" + d.name + "” could not be opened: " + avText(rc) + ".",
                     rc);
  d.format.reset(raw);
  rc = avformat_find_stream_info(raw, nullptr);
  if (rc < 0)
    throw audioError(1, "The audio file “" + d.name + "” could not be read: " + avText(rc) + ".",
                     rc);

  const AVCodec* decoder = nullptr;
  d.stream = av_find_best_stream(raw, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
  if (d.stream == AVERROR_STREAM_NOT_FOUND)
    throw audioError(2, "The file “" + d.name + "” contains no audio.");
  if (d.stream < 0 || !decoder)
    throw audioError(2, "The audio in “" + d.name + "” uses a format that cannot be decoded.",
                     d.stream < 0 ? d.stream : 0);
  for (unsigned i = 0; i < raw->nb_streams; ++i)
    if (static_cast<int>(i) != d.stream) raw->streams[i]->discard = AVDISCARD_ALL;

  d.codec.reset(avcodec_alloc_context3(decoder));
  if (!d.codec) throw audioError(1, "Out of memory while opening “" + d.name + "”.");
  rc = avcodec_parameters_to_context(d.codec.get(), raw->streams[d.stream]->codecpar);
  if (rc >= 0) rc = avcodec_open2(d.codec.get(), decoder, nullptr);
  if (rc < 0)
    throw audioError(2, "The audio in “" + d.name + "” could not be decoded: " + avText(rc) + ".",
                     rc);
}

AudioDecoder::~AudioDecoder() = default;

bool AudioDecoder::read(std::vector<int16_t>& out) {
  Impl& d = *impl_;
  while (!d.finished) {
    int rc = avcodec_receive_frame(d.codec.get(), d.frame.get());
    if (rc >= 0) {
      if (!d.sameFormat(d.frame.get())) {
        if (d.resampler) d.convert(nullptr, out);  // drain what the old format left behind
        d.configureFor(d.frame.get());
        d.remember(d.frame.get());
      }
      d.convert(d.frame.get(), out);
      av_frame_unref(d.frame.get());
      return true;
    }
    if (rc == AVERROR_EOF) {
      if (d.resampler) d.convert(nullptr, out);
      d.finished = true;
      return !out.empty();
    }
    // One damaged frame: skip it and feed the decoder on; the rest may be fine.
    if (rc == AVERROR_INVALIDDATA) rc = AVERROR(EAGAIN);
    if (rc != AVERROR(EAGAIN)) d.fail(rc);

    // The decoder wants input.
    if (d.inputDone) {
      // Already flushing and still EAGAIN would loop for ever; treat as the end.
      d.finished = true;
      return !out.empty();
    }
    rc = av_read_frame(d.format.get(), d.packet.get());
    if (rc == AVERROR_EOF) {
      d.inputDone = true;
      rc = avcodec_send_packet(d.codec.get(), nullptr);
      if (rc < 0 && rc != AVERROR_EOF) d.fail(rc);
      continue;
    }
    if (rc < 0) d.fail(rc);
    if (d.packet->stream_index == d.stream) {
      rc = avcodec_send_packet(d.codec.get(), d.packet.get());
      if (rc < 0 && rc != AVERROR_INVALIDDATA) {
        av_packet_unref(d.packet.get());
        d.fail(rc);
      }
    }
    av_packet_unref(d.packet.get());
  }
  return false;
}

}  // namespace tavolu::speech
