// The whole job of tavolu-segment: read the camera video, segment each kept frame, refine the
// mask against the frame and write the matte video.
#pragma once

#include <ostream>
#include <string>

namespace tavolu::segment {

struct SegmentOptions {
  std::string modelDirectory;        // holds the two .tflite files
  std::ostream* progress = nullptr;  // "Processed <n> seconds" lines; flushed at once
  std::ostream* timings = nullptr;   // where to report time per stage at the end, if anywhere
};

// Throws tavolu::Error: domain "Mask" for the program's own failures, "FFmpeg" for files that
// cannot be read or written, "Segmentation" for a model that cannot be used.
void segment(const std::string& input, const std::string& output, const SegmentOptions& options);

}  // namespace tavolu::segment
