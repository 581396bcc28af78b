#include "capture/sinks/media_probe.h"

#include <gtest/gtest.h>

#include <memory>
#include <string_view>

#include "capture/sinks/libav_ptr.h"
#include "tests/support/child_process.h"

namespace tavolu::test {
namespace {

struct InputDeleter {
  void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};

std::string findSettings(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  auto at = bytes.find("x264 - core");
  if (at == std::string_view::npos) return {};
  auto end = bytes.find('\0', at);
  return std::string(bytes.substr(at, end == std::string_view::npos ? end : end - at));
}

}  // namespace

ProbedTrack probeFile(const std::string& path, bool decode) {
  ProbedTrack track;
  AVFormatContext* raw = nullptr;
  if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) {
    ADD_FAILURE() << "cannot open " << path;
    return track;
  }
  std::unique_ptr<AVFormatContext, InputDeleter> input(raw);
  if (avformat_find_stream_info(input.get(), nullptr) < 0 || input->nb_streams < 1) {
    ADD_FAILURE() << "no track in " << path;
    return track;
  }
  if (input->duration != AV_NOPTS_VALUE)
    track.durationSeconds = static_cast<double>(input->duration) / AV_TIME_BASE;
  AVStream* stream = input->streams[0];
  const AVCodecParameters* par = stream->codecpar;
  track.codec = avcodec_get_name(par->codec_id);
  track.profile = par->profile;
  track.width = par->width;
  track.height = par->height;
  track.videoDelay = par->video_delay;
  track.colorSpace = par->color_space;
  track.colorRange = par->color_range;
  track.sampleRate = par->sample_rate;
  track.channels = par->ch_layout.nb_channels;
  track.bitRate = par->bit_rate;
  track.timeBase = stream->time_base;
  if (stream->duration != AV_NOPTS_VALUE) track.streamDuration = stream->duration;
  if (stream->start_time != AV_NOPTS_VALUE)
    track.startSeconds = stream->start_time * av_q2d(stream->time_base);
  if (par->extradata) track.encoderSettings = findSettings(par->extradata, par->extradata_size);

  av::CodecContextPtr decoder;
  if (decode) {
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    decoder.reset(avcodec_alloc_context3(codec));
    avcodec_parameters_to_context(decoder.get(), par);
    decoder->pkt_timebase = stream->time_base;
    decoder->flags2 |= AV_CODEC_FLAG2_SKIP_MANUAL;  // priming is trimmed below, by time
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0) {
      ADD_FAILURE() << "cannot decode " << path;
      decoder.reset();
    }
  }
  av::PacketPtr packet(av_packet_alloc());
  av::FramePtr frame(av_frame_alloc());
  std::vector<std::vector<float>> decoded;
  auto drain = [&] {
    while (avcodec_receive_frame(decoder.get(), frame.get()) == 0) {
      if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
        track.pictureTypes.push_back(av_get_picture_type_char(frame->pict_type));
      } else if (frame->format == AV_SAMPLE_FMT_FLTP) {
        decoded.resize(frame->ch_layout.nb_channels);
        for (int c = 0; c < frame->ch_layout.nb_channels; ++c) {
          auto* p = reinterpret_cast<const float*>(frame->extended_data[c]);
          decoded[c].insert(decoded[c].end(), p, p + frame->nb_samples);
        }
      }
      av_frame_unref(frame.get());
    }
  };
  while (av_read_frame(input.get(), packet.get()) >= 0) {
    if (packet->stream_index == 0) {
      if (track.packets.empty() && track.encoderSettings.empty())
        track.encoderSettings = findSettings(packet->data, packet->size);
      track.packets.push_back(
          {packet->pts, packet->dts, packet->duration, (packet->flags & AV_PKT_FLAG_KEY) != 0});
      if (decoder && avcodec_send_packet(decoder.get(), packet.get()) == 0) drain();
    }
    av_packet_unref(packet.get());
  }
  if (decoder) {
    avcodec_send_packet(decoder.get(), nullptr);
    drain();
  }
  // Audio: keep the samples from time 0 to the end of the last packet.
  if (!decoded.empty() && !track.packets.empty()) {
    int64_t first = track.packets.front().pts;
    // Where the track ends: its start plus its duration (fragmented files give no duration
    // per packet).
    int64_t end = track.packets.back().pts + track.packets.back().duration;
    if (track.streamDuration > 0) end = first + track.streamDuration;
    track.primingSamples = first < 0 ? -first : 0;
    for (auto& channel : decoded) {
      int64_t from = std::min<int64_t>(track.primingSamples, channel.size());
      int64_t to = std::clamp<int64_t>(end - first, from, channel.size());
      track.samples.emplace_back(channel.begin() + from, channel.begin() + to);
    }
  }
  return track;
}

double ffprobeDuration(const std::string& path) {
  ChildProcess probe({"/usr/bin/ffprobe", "-v", "error", "-show_entries", "format=duration", "-of",
                      "default=noprint_wrappers=1:nokey=1", path});
  std::string out = probe.readToEnd();
  probe.wait();
  try {
    return std::stod(out);
  } catch (...) {
    return -1;
  }
}

}  // namespace tavolu::test
