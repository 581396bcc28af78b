// The end of a recording: one end time a whole number of frames after the origin, and the
// session summary written next to the screen video.
#pragma once

#include <cstdint>
#include <string>

#include "capture/main/event_channel.h"
#include "platform/media_time.h"

namespace tavolu {

struct RecordingEnd {
  int64_t frameCount = 1;  // max(ceil((stop - origin) * fps), 1)
  MediaTime duration;      // frameCount / fps
  MediaTime end;           // origin + duration
};

RecordingEnd recordingEnd(MediaTime origin, MediaTime stopTime, int32_t fps);

struct RecordingSummary {
  std::string video, camera, systemAudio, microphoneAudio;
  double duration = 0;
  int64_t frames = 0, droppedFrames = 0, cameraFrames = 0, cameraDroppedFrames = 0;
};

// The "finished" event, which is also the content of the sidecar.
Json finishedEvent(const RecordingSummary& summary);

// Writes `content` to `path` atomically: a reader sees the old file or the whole new one.
// Throws Error when the file cannot be written.
void writeFileAtomically(const std::string& path, const std::string& content);

}  // namespace tavolu
