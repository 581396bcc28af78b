// The run mode chosen by the command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tavolu {

struct CommandLine {
  enum class Mode { cameraPreview, inputMonitoring, copyFile, watchWindows, list, record };
  Mode mode = Mode::record;
  bool requestAccess = false;  // "--input-monitoring request"
  std::string copyPath;        // "--copy-file <path>"
  int32_t excludedPid = -1;    // "--watch-windows [pid]"
};

// Tests the mode flags in their fixed order; every argument, the program path included, is
// searched and the first occurrence counts. Unknown arguments are ignored.
CommandLine parseCommandLine(const std::vector<std::string>& args);

// A base-10 signed 32-bit integer: optional sign, one or more digits, nothing else.
std::optional<int32_t> parseInt32(const std::string& text);

}  // namespace tavolu
