// New-press detection for the left and right mouse buttons inside the recorded area.
#pragma once

#include <optional>

#include "platform/geometry.h"
#include "platform/input.h"

namespace tavolu {

struct Click {
  Point position;  // fractions of the recorded area
  int button = 0;  // 0 when the left button is down, else 1
};

class ClickSampler {
 public:
  // Remembers the buttons held now, so a button held at start clicks only once pressed again.
  void reset(bool leftDown, bool rightDown);
  // The click this sample shows, if any: a button that went down since the previous sample,
  // with the pointer inside `area`; the left button wins when both are down. Remembers the
  // buttons of `now` whether or not it clicks.
  std::optional<Click> sample(const PointerState& now, const Rect& area);

 private:
  bool leftDown_ = false;
  bool rightDown_ = false;
};

}  // namespace tavolu
