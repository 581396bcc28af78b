// The request reader of the camera preview mode: one JSON object per line on standard input.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace tavolu {

class CameraPreview;

// What one input line asks for: nothing (the line is ignored), or a request whose value is the
// camera's unique id, or no camera.
std::optional<std::optional<std::string>> parseCameraRequest(std::string_view line);

// Hands each request read from `input` to `preview`; at end of input asks for no camera, waits
// until that request has been handled and returns.
void readCameraCommands(CameraPreview& preview, std::FILE* input);

}  // namespace tavolu
