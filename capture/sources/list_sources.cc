#include "capture/sources/list_sources.h"

#include <algorithm>
#include <climits>
#include <unordered_map>

#include "platform/error.h"

namespace tavolu {
namespace {

Json deviceEntries(DeviceDiscovery& discovery, MediaType type) {
  Json list = Json::array();
  for (const auto& d : devices(discovery, type))
    list.push_back({{"id", d.uniqueId}, {"name", d.name}});
  return list;
}

}  // namespace

std::vector<CaptureDevice> devices(DeviceDiscovery& discovery, MediaType type) {
  return discovery.devices(type);
}

Json sourcesEvent(WindowSystem& windows, DeviceDiscovery& discovery) {
  Json cameras = deviceEntries(discovery, MediaType::video);
  Json microphones = deviceEntries(discovery, MediaType::audio);
  Json event = {{"event", "sources"}, {"sources", Json::array()}};
  if (!windows.screenCaptureAccess()) {
    event.update({{"cameras", cameras},
                  {"microphones", microphones},
                  {"sourceError", "permission"},
                  {"permission", false}});
    return event;
  }
  ShareableContent content;
  try {
    content = windows.shareableContent();
  } catch (const Error& e) {
    event.update({{"cameras", cameras},
                  {"microphones", microphones},
                  {"sourceError", e.localizedDescription()}});
    return event;
  }

  Json sources = Json::array();
  int n = 0;
  for (const Display& d : content.displays) {
    sources.push_back(
        {{"id", "screen:" + std::to_string(d.id)},
         {"name", "Display " + std::to_string(++n) + " \u00B7 " + std::to_string(d.width) +
                      " \u00D7 " + std::to_string(d.height)},
         {"displayId", std::to_string(d.id)},
         {"bounds", rect(d.frame.x, d.frame.y, d.frame.width, d.frame.height)}});
  }

  // Front-most first, by the window server's stacking order; unknown windows last.
  std::unordered_map<uint32_t, size_t> position;
  if (auto stacking = windows.windowList()) {
    for (const Window& w : *stacking) position.try_emplace(w.id, position.size());
  }
  std::vector<const Window*> ordered;
  for (const Window& w : content.windows) ordered.push_back(&w);
  auto rank = [&](const Window* w) {
    auto it = position.find(w->id);
    return it == position.end() ? SIZE_MAX : it->second;
  };
  std::stable_sort(ordered.begin(), ordered.end(),
                   [&](const Window* a, const Window* b) { return rank(a) < rank(b); });

  for (const Window* w : ordered) {
    if (w->layer.value_or(-1) != 0) continue;
    if (!(w->frame.width > 80 && w->frame.height > 60)) continue;
    if (w->app && w->app->bundleId == kHostBundleId) continue;
    std::string name = (w->app ? w->app->name : std::string("Window")) + " \u2014 " +
                       w->title.value_or("Untitled");
    sources.push_back({{"id", "window:" + std::to_string(w->id)},
                       {"name", name},
                       {"bounds", rect(w->frame.x, w->frame.y, w->frame.width, w->frame.height)}});
  }
  // Devices are enumerated again: the screen query may have taken a while.
  return {{"event", "sources"},
          {"sources", sources},
          {"cameras", deviceEntries(discovery, MediaType::video)},
          {"microphones", deviceEntries(discovery, MediaType::audio)}};
}

void listSources(WindowSystem& windows, DeviceDiscovery& discovery) {
  emit(sourcesEvent(windows, discovery));
}

}  // namespace tavolu
