// The microphones a PulseAudio server offers.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/capture_devices.h"

namespace tavolu {

// Sources that are not monitors of an output, in the server's order: uniqueId is the source
// name (what a microphone option names), name its description. Empty when no sound server
// can be reached. `server`: none means $PULSE_SERVER or the default server.
std::vector<CaptureDevice> listPulseMicrophones(
    const std::optional<std::string>& server = std::nullopt);

}  // namespace tavolu
