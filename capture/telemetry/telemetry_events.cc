#include "capture/telemetry/telemetry_events.h"

namespace tavolu {

Json cursorShapeEvent(double t, Point position, const CursorShape& shape) {
  return Json{{"event", "cursor-shape"},  {"t", t},
              {"x", position.x},          {"y", position.y},
              {"image", shape.pngBase64}, {"hotX", shape.hotSpot.x},
              {"hotY", shape.hotSpot.y},  {"width", shape.width},
              {"height", shape.height}};
}

Json cursorClickEvent(double t, Point position, int button) {
  return Json{{"event", "cursor-click"},
              {"t", t},
              {"x", position.x},
              {"y", position.y},
              {"button", button}};
}

Json keyEvent(double t, const std::optional<std::vector<std::string>>& keys) {
  Json event{{"event", "key"}, {"t", t}};
  if (keys) event["keys"] = *keys;
  return event;
}

}  // namespace tavolu
