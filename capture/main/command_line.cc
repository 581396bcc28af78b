#include "capture/main/command_line.h"

#include <algorithm>
#include <charconv>

namespace tavolu {

std::optional<int32_t> parseInt32(const std::string& text) {
  size_t start = (!text.empty() && (text[0] == '+' || text[0] == '-')) ? 1 : 0;
  if (start == text.size()) return std::nullopt;
  if (!std::all_of(text.begin() + start, text.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  // from_chars takes no '+'; the sign is handled here.
  std::string digits = text[0] == '-' ? text : text.substr(start);
  int32_t value = 0;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (ec != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return value;
}

CommandLine parseCommandLine(const std::vector<std::string>& args) {
  auto find = [&](const char* flag) -> std::optional<size_t> {
    auto it = std::find(args.begin(), args.end(), flag);
    if (it == args.end()) return std::nullopt;
    return static_cast<size_t>(it - args.begin());
  };
  auto next = [&](size_t i) -> const std::string* {
    return i + 1 < args.size() ? &args[i + 1] : nullptr;
  };

  CommandLine cl;
  if (find("--camera-preview")) {
    cl.mode = CommandLine::Mode::cameraPreview;
  } else if (auto i = find("--input-monitoring")) {
    cl.mode = CommandLine::Mode::inputMonitoring;
    const std::string* v = next(*i);
    cl.requestAccess = v && *v == "request";
  } else if (auto i = find("--copy-file"); i && next(*i)) {
    cl.mode = CommandLine::Mode::copyFile;
    cl.copyPath = *next(*i);
  } else if (auto i = find("--watch-windows")) {
    cl.mode = CommandLine::Mode::watchWindows;
    const std::string* v = next(*i);
    cl.excludedPid = v ? parseInt32(*v).value_or(-1) : -1;
  } else if (find("--list")) {
    cl.mode = CommandLine::Mode::list;
  }
  return cl;
}

}  // namespace tavolu
