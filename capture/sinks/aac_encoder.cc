#include "capture/sinks/aac_encoder.h"

#include <algorithm>
#include <cmath>

#include "capture/sinks/libav_error.h"

namespace tavolu {

AacEncoder::AacEncoder(int channels, double sourceRate, double encodeRate, int64_t bitRate,
                       FragmentedMp4Writer& writer)
    : writer_(writer), channels_(channels) {
  if (channels < 1 || channels > 2 || !(sourceRate >= 1) || !(encodeRate >= 1) ||
      sourceRate > INT32_MAX)
    throw av::error("The AAC encoder takes one or two channels at a positive rate",
                    AVERROR(EINVAL));
  const AVCodec* codec = avcodec_find_encoder_by_name("aac");
  if (!codec) throw av::error("The AAC encoder is not available", AVERROR_ENCODER_NOT_FOUND);
  context_.reset(avcodec_alloc_context3(codec));
  if (!context_) throw av::error("Could not set up the AAC encoder", AVERROR(ENOMEM));
  AVCodecContext* c = context_.get();
  int rate = static_cast<int>(encodeRate);
  c->sample_rate = rate;
  c->sample_fmt = AV_SAMPLE_FMT_FLTP;
  c->bit_rate = bitRate;
  c->time_base = AVRational{1, rate};
  if (channels == 1)
    c->ch_layout = AV_CHANNEL_LAYOUT_MONO;
  else
    c->ch_layout = AV_CHANNEL_LAYOUT_STEREO;
  c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  av::check(avcodec_open2(c, codec, nullptr), "Could not open the AAC encoder");

  SwrContext* raw = nullptr;
  int rc =
      swr_alloc_set_opts2(&raw, &c->ch_layout, AV_SAMPLE_FMT_FLTP, rate, &c->ch_layout,
                          AV_SAMPLE_FMT_FLT, static_cast<int>(std::lround(sourceRate)), 0, nullptr);
  resampler_.reset(raw);
  av::check(rc, "Could not set up the audio converter");
  av::check(swr_init(resampler_.get()), "Could not start the audio converter");

  fifo_.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, channels, c->frame_size * 4));
  frame_.reset(av_frame_alloc());
  packet_.reset(av_packet_alloc());
  if (!fifo_ || !frame_ || !packet_)
    throw av::error("Could not set up the AAC encoder", AVERROR(ENOMEM));
  holdBack_ = rate / 4;
}

void AacEncoder::push(const float* interleaved, int64_t frames) {
  while (frames > 0) {
    int n = static_cast<int>(std::min<int64_t>(frames, 1 << 16));
    int room = swr_get_out_samples(resampler_.get(), n);
    av::check(room, "The audio converter failed");
    scratch_.resize(channels_);
    planes_.resize(channels_);
    for (int i = 0; i < channels_; ++i) {
      scratch_[i].resize(std::max(room, 1));
      planes_[i] = reinterpret_cast<uint8_t*>(scratch_[i].data());
    }
    const uint8_t* in[] = {reinterpret_cast<const uint8_t*>(interleaved)};
    int out = av::check(swr_convert(resampler_.get(), planes_.data(), room, in, n),
                        "The audio converter failed");
    if (out > 0)
      av::check(av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(planes_.data()), out),
                "Could not queue audio for the encoder");
    encodeReady(holdBack_);
    frames -= n;
    interleaved += static_cast<size_t>(n) * channels_;
  }
}

void AacEncoder::pushSilence(int64_t frames) {
  std::vector<float> silence(static_cast<size_t>(std::min<int64_t>(frames, 4096)) * channels_);
  while (frames > 0) {
    int64_t n = std::min<int64_t>(frames, 4096);
    push(silence.data(), n);
    frames -= n;
  }
}

void AacEncoder::finish(int64_t totalFrames) {
  // What the converter still holds.
  int room = swr_get_out_samples(resampler_.get(), 0);
  if (room > 0) {
    scratch_.resize(channels_);
    planes_.resize(channels_);
    for (int i = 0; i < channels_; ++i) {
      scratch_[i].resize(room);
      planes_[i] = reinterpret_cast<uint8_t*>(scratch_[i].data());
    }
    int out = av::check(swr_convert(resampler_.get(), planes_.data(), room, nullptr, 0),
                        "The audio converter failed");
    if (out > 0)
      av::check(av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(planes_.data()), out),
                "Could not queue audio for the encoder");
  }
  int64_t have = encoded_ + av_audio_fifo_size(fifo_.get());
  if (have < totalFrames) {
    int64_t missing = totalFrames - have;
    std::vector<std::vector<float>> zeros(channels_, std::vector<float>(4096, 0.0f));
    std::vector<void*> planes(channels_);
    for (int i = 0; i < channels_; ++i) planes[i] = zeros[i].data();
    while (missing > 0) {
      int n = static_cast<int>(std::min<int64_t>(missing, 4096));
      av::check(av_audio_fifo_write(fifo_.get(), planes.data(), n),
                "Could not queue audio for the encoder");
      missing -= n;
    }
  }
  while (encoded_ < totalFrames && av_audio_fifo_size(fifo_.get()) > 0)
    encodeFrame(static_cast<int>(
        std::min<int64_t>({static_cast<int64_t>(context_->frame_size), totalFrames - encoded_,
                           static_cast<int64_t>(av_audio_fifo_size(fifo_.get()))})));
  int rc = avcodec_send_frame(context_.get(), nullptr);
  if (rc != AVERROR_EOF) av::check(rc, "Could not drain the AAC encoder");
  drainPackets();
}

void AacEncoder::encodeReady(int64_t keep) {
  while (av_audio_fifo_size(fifo_.get()) >= context_->frame_size + keep)
    encodeFrame(context_->frame_size);
}

void AacEncoder::encodeFrame(int frames) {
  av_frame_unref(frame_.get());
  frame_->nb_samples = frames;
  frame_->format = context_->sample_fmt;
  frame_->sample_rate = context_->sample_rate;
  av::check(av_channel_layout_copy(&frame_->ch_layout, &context_->ch_layout),
            "Could not describe an audio frame");
  av::check(av_frame_get_buffer(frame_.get(), 0), "Could not allocate an audio frame");
  if (av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(frame_->extended_data), frames) !=
      frames)
    throw av::error("Could not take audio for the encoder", AVERROR_BUG);
  frame_->pts = encoded_;
  encoded_ += frames;
  av::check(avcodec_send_frame(context_.get(), frame_.get()), "The AAC encoder refused audio");
  drainPackets();
}

void AacEncoder::drainPackets() {
  for (;;) {
    int rc = avcodec_receive_packet(context_.get(), packet_.get());
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
    av::check(rc, "The AAC encoder failed");
    writer_.write(packet_.get(), context_->time_base);
    av_packet_unref(packet_.get());
  }
}

}  // namespace tavolu
