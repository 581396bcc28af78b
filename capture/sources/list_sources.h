// The "sources" event: displays, windows, cameras and microphones the host can offer.
#pragma once

#include <vector>

#include "capture/main/event_channel.h"
#include "platform/capture_devices.h"
#include "platform/window_system.h"

namespace tavolu {

// The bundle identifier of the host application, whose windows are never offered.
inline constexpr const char* kHostBundleId = "com.orvenda.studio";

// Capture devices of one media type, in discovery order.
std::vector<CaptureDevice> devices(DeviceDiscovery& discovery, MediaType type);

// Builds the "sources" event. Missing permission and a failed content query are reported
// inside the event, never thrown.
Json sourcesEvent(WindowSystem& windows, DeviceDiscovery& discovery);

// Emits the one "sources" event.
void listSources(WindowSystem& windows, DeviceDiscovery& discovery);

}  // namespace tavolu
