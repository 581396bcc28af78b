#include "capture/session/recording_end.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/error.h"

namespace tavolu {

RecordingEnd recordingEnd(MediaTime origin, MediaTime stopTime, int32_t fps) {
  // Exact in integers: ceil(elapsed_ns * fps / 1e9).
  MediaTime elapsed = stopTime - origin;
  __int128 num = static_cast<__int128>(elapsed.value) * fps;
  __int128 den = elapsed.timescale;
  int64_t frames = 1;
  if (num > 0) frames = static_cast<int64_t>((num + den - 1) / den);
  RecordingEnd r;
  r.frameCount = frames < 1 ? 1 : frames;
  r.duration = MediaTime::make(r.frameCount, fps);
  r.end = origin + r.duration;
  return r;
}

Json finishedEvent(const RecordingSummary& s) {
  return {{"event", "finished"},
          {"video", s.video},
          {"camera", s.camera},
          {"cameraOffset", 0},
          {"timing", "host-clock"},
          {"duration", s.duration},
          {"systemAudio", s.systemAudio},
          {"microphoneAudio", s.microphoneAudio},
          {"frames", s.frames},
          {"droppedFrames", s.droppedFrames},
          {"cameraFrames", s.cameraFrames},
          {"cameraDroppedFrames", s.cameraDroppedFrames}};
}

void writeFileAtomically(const std::string& path, const std::string& content) {
  std::string tmp = path + ".tmp-" + std::to_string(getpid());
  auto fail = [&](const char* what) {
    int err = errno;
    unlink(tmp.c_str());
    throw Error("NSPOSIXErrorDomain", err,
                std::string("Could not ") + what + " " + path + ": " + std::strerror(err));
  };
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) fail("create");
  size_t done = 0;
  while (done < content.size()) {
    ssize_t n = write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      close(fd);
      fail("write");
    }
    done += static_cast<size_t>(n);
  }
  if (fsync(fd) != 0 || close(fd) != 0) fail("write");
  if (rename(tmp.c_str(), path.c_str()) != 0) fail("save");
}

}  // namespace tavolu
