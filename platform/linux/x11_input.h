// Input on X11: pointer and buttons from QueryPointer, keys from QueryKeymap, the cursor from
// XFixes, the keyboard layout through xkbcommon. Uses a connection of its own; every method may
// be called from any thread.
#pragma once

#include <memory>
#include <mutex>

#include "platform/input.h"
#include "platform/linux/x11_connection.h"

struct xkb_context;

namespace tavolu {

class X11Input : public Input {
 public:
  // Connects to the named display (nullptr: $DISPLAY); throws Error when it cannot.
  static std::shared_ptr<X11Input> open(const char* displayName = nullptr);
  ~X11Input() override;
  X11Input(const X11Input&) = delete;
  X11Input& operator=(const X11Input&) = delete;

  std::optional<PointerState> pointer() override;
  uint64_t modifiers() override;
  std::optional<Keymap> keymap() override;
  std::optional<CursorImage> cursorImage() override;
  std::unique_ptr<KeyboardLayout> currentLayout() override;

 private:
  explicit X11Input(std::unique_ptr<x11::Connection> connection);

  std::unique_ptr<x11::Connection> connection_;  // our own, not shared with other backends
  xcb_connection_t* conn_;
  xcb_window_t root_;
  bool xfixes_ = false;
  bool xkb_ = false;
  int32_t keyboardDevice_ = -1;
  std::mutex xkbMutex_;  // the xkbcommon context is not thread-safe
  xkb_context* xkbContext_ = nullptr;
};

}  // namespace tavolu
