#include "capture/preview/camera_commands.h"

#include <cstdlib>

#include "capture/main/event_channel.h"
#include "capture/preview/camera_preview.h"

namespace tavolu {

std::optional<std::optional<std::string>> parseCameraRequest(std::string_view line) {
  Json object = Json::parse(line, nullptr, /*allow_exceptions=*/false);
  if (!object.is_object()) return std::nullopt;  // invalid JSON, arrays and bare values
  auto camera = object.find("camera");
  if (camera != object.end() && camera->is_string())
    return std::optional<std::string>(camera->get<std::string>());
  return std::optional<std::string>();
}

void readCameraCommands(CameraPreview& preview, std::FILE* input) {
  char* buffer = nullptr;
  size_t capacity = 0;
  ssize_t length;
  while ((length = ::getline(&buffer, &capacity, input)) >= 0) {
    std::string_view line(buffer, static_cast<size_t>(length));
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    if (auto request = parseCameraRequest(line)) preview.set(*request);
  }
  std::free(buffer);
  preview.set(std::nullopt);
  preview.flush();
}

}  // namespace tavolu
