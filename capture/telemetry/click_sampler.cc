#include "capture/telemetry/click_sampler.h"

#include "capture/telemetry/recorded_area.h"

namespace tavolu {

void ClickSampler::reset(bool leftDown, bool rightDown) {
  leftDown_ = leftDown;
  rightDown_ = rightDown;
}

std::optional<Click> ClickSampler::sample(const PointerState& now, const Rect& area) {
  bool newPress = (now.left && !leftDown_) || (now.right && !rightDown_);
  leftDown_ = now.left;
  rightDown_ = now.right;
  if (!newPress || !areaContains(area, now.location)) return std::nullopt;
  auto position = normalizedIn(area, now.location);
  if (!position) return std::nullopt;
  return Click{*position, now.left ? 0 : 1};
}

}  // namespace tavolu
