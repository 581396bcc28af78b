#include "capture/utility/window_watch.h"

#include <nlohmann/json.hpp>

namespace tavolu {

std::optional<Window> frontWindow(const std::vector<Window>& frontToBack, int32_t excludedPid) {
  for (const Window& w : frontToBack) {
    if (!w.layer || *w.layer != 0) continue;
    if (w.ownerPid && *w.ownerPid == excludedPid) continue;
    if (w.alpha && *w.alpha <= 0.01) continue;
    if (!(w.frame.width > 120 && w.frame.height > 80)) continue;
    return w;
  }
  return std::nullopt;
}

std::string frontLine(const std::optional<Window>& front) {
  nlohmann::json line = {{"event", "front"}};
  if (front) {
    line["window"] = {{"id", front->id},
                      {"app", front->app ? front->app->name : std::string("App")},
                      {"title", front->title.value_or("")},
                      {"x", front->frame.x},
                      {"y", front->frame.y},
                      {"width", front->frame.width},
                      {"height", front->frame.height}};
  }
  // Window titles are not always valid UTF-8; such bytes are replaced rather than the
  // line being lost.
  return line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void WindowWatch::tick() {
  auto list = windows_.windowList();
  std::string line = frontLine(list ? frontWindow(*list, excludedPid_) : std::nullopt);
  if (line == lastLine_) return;
  lastLine_ = line;
  print_(line);
}

}  // namespace tavolu
