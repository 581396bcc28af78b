// libav return codes turned into error values that say what failed and why.
#pragma once

#include <string>

#include "platform/error.h"

namespace tavolu::av {

// Domain of errors reported by FFmpeg's libraries.
inline constexpr const char* kErrorDomain = "FFmpeg";

// libav's text for a return code, e.g. "No such file or directory".
std::string errorText(int rc);

// An error in the FFmpeg domain: "<what>: <libav text>", the code being libav's.
Error error(const std::string& what, int rc);

// Throws error(what, rc) when rc is negative; returns rc otherwise.
int check(int rc, const std::string& what);

// Keeps libav's informational messages (x264's statistics) off standard error, which
// carries only the program's own diagnostics; libav errors still appear there.
void quietLibavLogs();

}  // namespace tavolu::av
