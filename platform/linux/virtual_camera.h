// The virtual camera named by TAVOLU_VIRTUAL_CAMERA: "virtual:pattern" is a moving test pattern
// (1920x1080, 30 fps); any other value is a video file played in real time, looped.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/camera.h"

namespace tavolu {

inline constexpr char kVirtualPatternId[] = "virtual:pattern";
inline constexpr char kVirtualFileId[] = "virtual:file";

// The device the variable's value stands for, or nothing when it is unset or empty.
std::optional<CaptureDevice> virtualCameraDevice(const char* value);

// Opens the virtual camera; a file that cannot be played throws a camera error (failed, with
// the reason).
std::unique_ptr<CameraSession> openVirtualCamera(const std::string& value, CameraDelegate delegate);

// The test pattern's frame `index` (for tests and benchmarks): colour bars with a box that moves
// from frame to frame.
void drawTestPattern(PixelBuffer& frame, int64_t index);

}  // namespace tavolu
