#include "capture/session/start_options.h"

#include <algorithm>
#include <cmath>

namespace tavolu {
namespace {

std::optional<std::string> text(const Json& o, const char* key) {
  auto it = o.find(key);
  if (it == o.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

std::optional<bool> boolean(const Json& o, const char* key) {
  auto it = o.find(key);
  if (it == o.end() || !it->is_boolean()) return std::nullopt;
  return it->get<bool>();
}

std::optional<int64_t> integer(const Json& o, const char* key) {
  auto it = o.find(key);
  return it == o.end() ? std::nullopt : wholeNumber(*it);
}

}  // namespace

std::optional<int64_t> wholeNumber(const Json& v) {
  if (v.is_number_integer()) {
    if (v.is_number_unsigned() && v.get<uint64_t>() > uint64_t(INT64_MAX)) return std::nullopt;
    return v.get<int64_t>();
  }
  if (v.is_number_float()) {
    double d = v.get<double>();
    if (!std::isfinite(d) || d != std::trunc(d) || std::fabs(d) >= 9.2e18) return std::nullopt;
    return static_cast<int64_t>(d);
  }
  return std::nullopt;
}

StartOptions parseStartOptions(const Json& c) {
  StartOptions o;
  o.source = text(c, "source").value_or("");
  o.video = text(c, "video").value_or("");
  o.cameraPath = text(c, "cameraPath").value_or("");
  // The frame interval needs a positive rate; nonsense rates record at the default.
  int64_t fps = integer(c, "fps").value_or(30);
  o.fps = fps <= 0 ? 30 : std::min(fps, kMaxFps);
  o.microphone = text(c, "microphone");
  o.camera = text(c, "camera");

  o.hasRegionMember = c.contains("region");
  if (auto it = c.find("region"); it != c.end() && it->is_object()) {
    bool allNumbers =
        std::all_of(it->begin(), it->end(), [](const Json& v) { return v.is_number(); });
    if (allNumbers) {
      Region r;
      auto member = [&](const char* k) -> std::optional<double> {
        auto m = it->find(k);
        return m == it->end() ? std::nullopt : std::optional<double>(m->get<double>());
      };
      r.x = member("x");
      r.y = member("y");
      r.width = member("width");
      r.height = member("height");
      o.region = r;
    }
  }
  if (auto it = c.find("includeWindows"); it != c.end() && it->is_array()) {
    bool allNumbers =
        std::all_of(it->begin(), it->end(), [](const Json& v) { return v.is_number(); });
    if (allNumbers)
      for (const Json& v : *it) {
        double d = v.get<double>();
        if (d >= 0 && d <= 4294967295.0) o.includeWindows.push_back(static_cast<uint32_t>(d));
      }
  }
  o.cursor = boolean(c, "cursor").value_or(true);
  o.smoothCursor = boolean(c, "editableCursor").value_or(false) ||
                   text(c, "cursorMode").value_or("") == "smooth";
  o.clicks = boolean(c, "clicks").value_or(false);
  o.systemAudio = boolean(c, "systemAudio").value_or(false);
  o.keys = boolean(c, "keys").value_or(false);
  o.countdown = std::clamp<int64_t>(integer(c, "countdown").value_or(0), 0, 5);
  return o;
}

}  // namespace tavolu
