#include "capture/sinks/fragmented_mp4_writer.h"

#include <unistd.h>

#include "capture/sinks/libav_error.h"

extern "C" {
#include <libavutil/opt.h>
}

namespace tavolu {

FragmentedMp4Writer::FragmentedMp4Writer(const std::string& path, const Options& options)
    : path_(path), options_(options) {
  AVFormatContext* raw = nullptr;
  av::check(avformat_alloc_output_context2(&raw, nullptr, options.format, path.c_str()),
            "Could not set up an MPEG-4 writer for " + path);
  context_.reset(raw);
  av::check(avio_open(&context_->pb, path.c_str(), AVIO_FLAG_WRITE), "Could not create " + path);
  // Every completed fragment goes to the file at once instead of waiting in a buffer.
  context_->flush_packets = 1;
}

FragmentedMp4Writer::~FragmentedMp4Writer() = default;

void FragmentedMp4Writer::addTrack(const AVCodecContext* encoder) {
  stream_ = avformat_new_stream(context_.get(), nullptr);
  if (!stream_) throw av::error("Could not add a track to " + path_, AVERROR(ENOMEM));
  av::check(avcodec_parameters_from_context(stream_->codecpar, encoder),
            "Could not describe the track of " + path_);
  stream_->time_base = encoder->time_base;
}

void FragmentedMp4Writer::start() {
  std::string flags = "+default_base_moof";
  flags += options_.headerWithFirstFragment ? "+delay_moov" : "+empty_moov";
  if (options_.fragmentAtKeyFrames) flags += "+frag_keyframe";
  AVDictionary* settings = nullptr;
  av_dict_set(&settings, "movflags", flags.c_str(), 0);
  av_dict_set_int(&settings, "frag_duration", options_.maxFragmentMicros, 0);
  int rc = avformat_write_header(context_.get(), &settings);
  av_dict_free(&settings);
  av::check(rc, "Could not start writing " + path_);
  if (context_->pb->error < 0) throw av::error("Could not write " + path_, context_->pb->error);
}

void FragmentedMp4Writer::write(AVPacket* packet, AVRational timeBase) {
  av_packet_rescale_ts(packet, timeBase, stream_->time_base);
  packet->stream_index = stream_->index;
  av::check(av_write_frame(context_.get(), packet), "Could not write to " + path_);
  // The muxer does not pass on failed file writes; the file's own error state has them.
  if (context_->pb->error < 0) throw av::error("Could not write to " + path_, context_->pb->error);
}

void FragmentedMp4Writer::finish() {
  av::check(av_write_trailer(context_.get()), "Could not complete " + path_);
  avio_flush(context_->pb);
  if (context_->pb->error < 0) throw av::error("Could not complete " + path_, context_->pb->error);
  av::check(avio_closep(&context_->pb), "Could not close " + path_);
}

void FragmentedMp4Writer::discard() {
  context_.reset();
  unlink(path_.c_str());
}

}  // namespace tavolu
