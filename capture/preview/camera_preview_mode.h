// Entry of the camera preview mode ("--camera-preview").
#pragma once

#include <asio/io_context.hpp>

namespace tavolu {

// Creates the camera preview on this machine's cameras, reads requests from standard input on a
// thread of its own and runs `mainLoop` on the calling (main) thread. At end of input the camera
// is turned off, "off" is written when a camera was wanted, and the process exits with status 0
// 0.2 s after the end of input.
[[noreturn]] void runCameraPreviewMode(asio::io_context& mainLoop);

}  // namespace tavolu
