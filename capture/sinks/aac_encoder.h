// AAC encoding of interleaved float audio with FFmpeg's native encoder: converts to the
// encoder's planar float at the encoder's rate (libswresample), cuts 1024-frame blocks and
// writes the packets to the file. Times count samples of the encoder's rate from the origin.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capture/sinks/fragmented_mp4_writer.h"
#include "capture/sinks/libav_ptr.h"

namespace tavolu {

class AacEncoder {
 public:
  // Opens the encoder for `channels` (1 or 2) channels of `sourceRate` input, encoded at
  // `encodeRate` with `bitRate`; packets go to `writer`, whose track this encoder describes.
  // Throws an FFmpeg error when the encoder cannot start.
  AacEncoder(int channels, double sourceRate, double encodeRate, int64_t bitRate,
             FragmentedMp4Writer& writer);

  const AVCodecContext* context() const { return context_.get(); }

  // Adds `frames` interleaved frames at the source rate; encodes what is ready.
  void push(const float* interleaved, int64_t frames);
  // Adds `frames` frames of silence at the source rate.
  void pushSilence(int64_t frames);
  // Ends the stream after exactly `totalFrames` encoder-rate frames (padding with silence or
  // cutting what lies beyond) and drains the encoder.
  void finish(int64_t totalFrames);

 private:
  void encodeReady(int64_t keep);
  void encodeFrame(int frames);
  void drainPackets();

  FragmentedMp4Writer& writer_;
  int channels_;
  av::CodecContextPtr context_;
  av::SwrPtr resampler_;
  av::AudioFifoPtr fifo_;
  av::FramePtr frame_;
  av::PacketPtr packet_;
  std::vector<uint8_t*> planes_;
  std::vector<std::vector<float>> scratch_;
  int64_t encoded_ = 0;  // frames handed to the encoder
  int64_t holdBack_;     // frames kept unencoded so that the end can still cut them
};

}  // namespace tavolu
