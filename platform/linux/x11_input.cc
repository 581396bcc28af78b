#include "platform/linux/x11_input.h"

#include <xcb/xcb.h>
#include <xcb/xfixes.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdlib>
#include <string>

#include "platform/error.h"

namespace tavolu {
namespace {

template <typename T>
x11::Reply<T> reply(T* r) {
  return x11::Reply<T>(r);
}

// The spacing character a dead key shows on its keycap, where it has one.
const char* deadKeyCharacter(xkb_keysym_t sym) {
  switch (sym) {
    case XKB_KEY_dead_grave:
      return "`";
    case XKB_KEY_dead_acute:
      return "´";
    case XKB_KEY_dead_circumflex:
      return "^";
    case XKB_KEY_dead_tilde:
      return "~";
    case XKB_KEY_dead_macron:
      return "¯";
    case XKB_KEY_dead_breve:
      return "˘";
    case XKB_KEY_dead_abovedot:
      return "˙";
    case XKB_KEY_dead_diaeresis:
      return "¨";
    case XKB_KEY_dead_abovering:
      return "˚";
    case XKB_KEY_dead_doubleacute:
      return "˝";
    case XKB_KEY_dead_caron:
      return "ˇ";
    case XKB_KEY_dead_cedilla:
      return "¸";
    case XKB_KEY_dead_ogonek:
      return "˛";
    default:
      return nullptr;
  }
}

class XkbLayout : public KeyboardLayout {
 public:
  XkbLayout(xkb_keymap* keymap, xkb_layout_index_t layout) : keymap_(keymap), layout_(layout) {}
  ~XkbLayout() override { xkb_keymap_unref(keymap_); }

  std::string characterOf(uint8_t keyCode) const override {
    xkb_layout_index_t layouts = xkb_keymap_num_layouts_for_key(keymap_, keyCode);
    if (layouts == 0) return {};
    // A key with fewer groups than the active one wraps round, as the server does by default.
    xkb_layout_index_t layout = layout_ % layouts;
    const xkb_keysym_t* syms = nullptr;
    int count = xkb_keymap_key_get_syms_by_level(keymap_, keyCode, layout, 0, &syms);
    if (count < 1) return {};
    if (const char* dead = deadKeyCharacter(syms[0])) return dead;
    char text[16];
    int size = xkb_keysym_to_utf8(syms[0], text, sizeof text);
    if (size <= 1) return {};  // no character (size counts the terminating zero)
    return std::string(text, static_cast<size_t>(size - 1));
  }

 private:
  xkb_keymap* keymap_;
  xkb_layout_index_t layout_;
};

}  // namespace

std::shared_ptr<X11Input> X11Input::open(const char* displayName) {
  auto connection = x11::Connection::open(displayName);
  if (!connection) {
    const char* name = displayName ? displayName : std::getenv("DISPLAY");
    throw Error("X11", 1,
                std::string("Cannot open the X display \"") + (name ? name : "") +
                    "\"; check that DISPLAY names a running X server.");
  }
  return std::shared_ptr<X11Input>(new X11Input(std::move(connection)));
}

X11Input::X11Input(std::unique_ptr<x11::Connection> connection)
    : connection_(std::move(connection)), conn_(connection_->get()), root_(connection_->root()) {
  // XFixes must be told the client's version before its requests are used.
  auto version =
      reply(xcb_xfixes_query_version_reply(conn_, xcb_xfixes_query_version(conn_, 4, 0), nullptr));
  xfixes_ = version != nullptr;
  if (xkb_x11_setup_xkb_extension(
          conn_, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
          XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr)) {
    keyboardDevice_ = xkb_x11_get_core_keyboard_device_id(conn_);
    xkbContext_ = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    xkb_ = keyboardDevice_ >= 0 && xkbContext_;
  }
}

X11Input::~X11Input() {
  if (xkbContext_) xkb_context_unref(xkbContext_);
}

std::optional<PointerState> X11Input::pointer() {
  auto r = reply(xcb_query_pointer_reply(conn_, xcb_query_pointer(conn_, root_), nullptr));
  if (!r || !r->same_screen) return std::nullopt;
  PointerState state;
  state.location = {static_cast<double>(r->root_x), static_cast<double>(r->root_y)};
  state.left = r->mask & XCB_KEY_BUT_MASK_BUTTON_1;
  state.right = r->mask & XCB_KEY_BUT_MASK_BUTTON_3;
  return state;
}

uint64_t X11Input::modifiers() {
  auto r = reply(xcb_query_pointer_reply(conn_, xcb_query_pointer(conn_, root_), nullptr));
  if (!r) return 0;
  uint64_t flags = 0;
  if (r->mask & XCB_MOD_MASK_SHIFT) flags |= kModifierShift;
  if (r->mask & XCB_MOD_MASK_CONTROL) flags |= kModifierControl;
  if (r->mask & XCB_MOD_MASK_1) flags |= kModifierOption;   // Alt
  if (r->mask & XCB_MOD_MASK_4) flags |= kModifierCommand;  // Super
  return flags;
}

std::optional<Keymap> X11Input::keymap() {
  auto r = reply(xcb_query_keymap_reply(conn_, xcb_query_keymap(conn_), nullptr));
  if (!r) return std::nullopt;
  Keymap map;
  for (int code = 0; code < 256; ++code)
    if (r->keys[code / 8] & (1u << (code % 8))) map.set(static_cast<size_t>(code));
  return map;
}

std::optional<CursorImage> X11Input::cursorImage() {
  if (!xfixes_) return std::nullopt;
  auto r =
      reply(xcb_xfixes_get_cursor_image_reply(conn_, xcb_xfixes_get_cursor_image(conn_), nullptr));
  if (!r || r->width == 0 || r->height == 0) return std::nullopt;
  const uint32_t* pixels = xcb_xfixes_get_cursor_image_cursor_image(r.get());
  int length = xcb_xfixes_get_cursor_image_cursor_image_length(r.get());
  size_t count = static_cast<size_t>(r->width) * r->height;
  if (!pixels || length < 0 || static_cast<size_t>(length) < count) return std::nullopt;
  CursorImage image;
  image.width = r->width;
  image.height = r->height;
  image.hotSpot = {static_cast<double>(r->xhot), static_cast<double>(r->yhot)};
  image.argb.assign(pixels, pixels + count);
  return image;
}

std::unique_ptr<KeyboardLayout> X11Input::currentLayout() {
  if (!xkb_) return nullptr;
  std::lock_guard lock(xkbMutex_);
  // Fetched afresh every time, so a layout switched since the last call is seen.
  xkb_keymap* keymap = xkb_x11_keymap_new_from_device(xkbContext_, conn_, keyboardDevice_,
                                                      XKB_KEYMAP_COMPILE_NO_FLAGS);
  if (!keymap) return nullptr;
  xkb_layout_index_t layout = 0;
  if (xkb_state* state = xkb_x11_state_new_from_device(keymap, conn_, keyboardDevice_)) {
    layout = xkb_state_serialize_layout(state, XKB_STATE_LAYOUT_EFFECTIVE);
    xkb_state_unref(state);
  }
  return std::make_unique<XkbLayout>(keymap, layout);
}

}  // namespace tavolu
