// One-track fragmented MPEG-4 file: each fragment reaches the disk whole as soon as it is
// complete, so a process that dies mid-recording leaves a file that opens up to its last
// fragment.
#pragma once

#include <string>

#include "capture/sinks/libav_ptr.h"

namespace tavolu {

class FragmentedMp4Writer {
 public:
  struct Options {
    const char* format = "mp4";  // libavformat muxer: "mp4", or "ipod" for M4A
    bool fragmentAtKeyFrames = false;
    int64_t maxFragmentMicros = 2'000'000;
    // Writes the header with the first fragment, so that it can carry an edit list (the
    // AAC encoder's priming samples sit before zero).
    bool headerWithFirstFragment = false;
  };

  // Creates (truncates) the file; throws an FFmpeg error naming the path.
  FragmentedMp4Writer(const std::string& path, const Options& options);
  ~FragmentedMp4Writer();  // closes the file without a trailer if finish() was not reached
  FragmentedMp4Writer(const FragmentedMp4Writer&) = delete;
  FragmentedMp4Writer& operator=(const FragmentedMp4Writer&) = delete;

  // Adds the file's one track, described by its encoder (opened, global header).
  void addTrack(const AVCodecContext* encoder);
  // Writes the file header; throws when the file cannot be started.
  void start();
  // Writes one packet whose times are in `timeBase`; throws on a write error.
  void write(AVPacket* packet, AVRational timeBase);
  // Writes the last fragment and the index, and closes the file; throws on failure.
  void finish();
  // Closes and deletes the file (for a sink that failed to start).
  void discard();

  const std::string& path() const { return path_; }

 private:
  std::string path_;
  Options options_;
  av::OutputContextPtr context_;
  AVStream* stream_ = nullptr;
};

}  // namespace tavolu
