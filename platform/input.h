// Pointer, mouse buttons, keyboard and cursor image of the window server, read by polling.
#pragma once

#include <bitset>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/geometry.h"

namespace tavolu {

// Held modifier keys as event flags (the same bits on every platform).
enum ModifierFlag : uint64_t {
  kModifierShift = 0x20000,
  kModifierControl = 0x40000,
  kModifierOption = 0x80000,    // Alt
  kModifierCommand = 0x100000,  // Super
};

struct PointerState {
  Point location;  // global display coordinates (points, y down)
  bool left = false;
  bool right = false;
};

// Which keys are down, indexed by the window server's key code (X11: evdev code + 8).
using Keymap = std::bitset<256>;

// The system cursor as drawn now.
struct CursorImage {
  int width = 0;  // pixels; one pixel is one point
  int height = 0;
  Point hotSpot;  // points from the image's top-left corner
  // width × height pixels, row by row, 0xAARRGGBB with premultiplied alpha.
  std::vector<uint32_t> argb;
};

// A snapshot of the keyboard layout in use.
class KeyboardLayout {
 public:
  virtual ~KeyboardLayout() = default;
  // The text the key types with no modifier held (level one), UTF-8; empty when it types none.
  virtual std::string characterOf(uint8_t keyCode) const = 0;
};

class Input {
 public:
  virtual ~Input() = default;
  // The pointer's location and the left and right button states; nothing when unreadable.
  virtual std::optional<PointerState> pointer() = 0;
  // The modifier keys held now (ModifierFlag bits); 0 when unreadable.
  virtual uint64_t modifiers() = 0;
  // The keys down now; nothing when unreadable.
  virtual std::optional<Keymap> keymap() = 0;
  // The current cursor image with its hot spot; nothing when there is none.
  virtual std::optional<CursorImage> cursorImage() = 0;
  // The current keyboard layout; nothing when no layout data can be had.
  virtual std::unique_ptr<KeyboardLayout> currentLayout() = 0;
};

}  // namespace tavolu
