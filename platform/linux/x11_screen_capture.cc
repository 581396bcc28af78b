#include "platform/linux/x11_screen_capture.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <cmath>

#include "platform/linux/x11_connection.h"
#include "platform/linux/x11_screen_stream.h"

namespace tavolu {
namespace {

using x11::Reply;

constexpr uint16_t kCrosshairGlyph = 34;  // XC_crosshair in the standard cursor font
constexpr uint32_t kEscapeKeysym = 0xff1b;

bool contains(const Rect& r, Point p) {
  return p.x >= r.minX() && p.y >= r.minY() && p.x < r.minX() + std::abs(r.width) &&
         p.y < r.minY() + std::abs(r.height);
}

Error cancelled() { return Error("Capture", 9, "Screen selection was cancelled."); }

// Keycodes that produce Escape in the current keyboard mapping.
std::vector<xcb_keycode_t> escapeKeycodes(xcb_connection_t* c) {
  const xcb_setup_t* setup = xcb_get_setup(c);
  int count = setup->max_keycode - setup->min_keycode + 1;
  Reply<xcb_get_keyboard_mapping_reply_t> map(xcb_get_keyboard_mapping_reply(
      c, xcb_get_keyboard_mapping(c, setup->min_keycode, uint8_t(count)), nullptr));
  std::vector<xcb_keycode_t> result;
  if (!map) return result;
  const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map.get());
  int per = map->keysyms_per_keycode;
  for (int k = 0; k < count; ++k)
    for (int i = 0; i < per; ++i)
      if (syms[k * per + i] == kEscapeKeysym)
        result.push_back(xcb_keycode_t(setup->min_keycode + k));
  return result;
}

// The pointer and keyboard, grabbed for the picker and released with it.
class PickerGrab {
 public:
  explicit PickerGrab(x11::Connection& conn) : c_(conn.get()) {
    xcb_font_t font = xcb_generate_id(c_);
    xcb_open_font(c_, font, 6, "cursor");
    cursor_ = xcb_generate_id(c_);
    xcb_create_glyph_cursor(c_, cursor_, font, font, kCrosshairGlyph, kCrosshairGlyph + 1, 0, 0, 0,
                            0xffff, 0xffff, 0xffff);
    xcb_close_font(c_, font);
    Reply<xcb_grab_pointer_reply_t> p(xcb_grab_pointer_reply(
        c_,
        xcb_grab_pointer(
            c_, 0, conn.root(), XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE,
            XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC, XCB_NONE, cursor_, XCB_CURRENT_TIME),
        nullptr));
    pointer_ = p && p->status == XCB_GRAB_STATUS_SUCCESS;
    if (!pointer_)
      throw Error("X11", 6,
                  "The screen picker could not take the pointer; another application holds it.");
    Reply<xcb_grab_keyboard_reply_t> k(
        xcb_grab_keyboard_reply(c_,
                                xcb_grab_keyboard(c_, 0, conn.root(), XCB_CURRENT_TIME,
                                                  XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
                                nullptr));
    keyboard_ = k && k->status == XCB_GRAB_STATUS_SUCCESS;
    if (!keyboard_) {
      release();
      throw Error("X11", 6,
                  "The screen picker could not take the keyboard; another application holds it.");
    }
  }
  ~PickerGrab() { release(); }

 private:
  void release() {
    if (pointer_) xcb_ungrab_pointer(c_, XCB_CURRENT_TIME);
    if (keyboard_) xcb_ungrab_keyboard(c_, XCB_CURRENT_TIME);
    pointer_ = keyboard_ = false;
    if (cursor_) xcb_free_cursor(c_, cursor_);
    cursor_ = 0;
    xcb_flush(c_);
  }
  xcb_connection_t* c_;
  xcb_cursor_t cursor_ = 0;
  bool pointer_ = false, keyboard_ = false;
};

}  // namespace

X11ScreenCapture::X11ScreenCapture(std::shared_ptr<WindowSystem> windows, Options options)
    : windows_(std::move(windows)), options_(std::move(options)) {}

ShareableContent X11ScreenCapture::shareableContent() { return windows_->shareableContent(); }

ContentFilter X11ScreenCapture::displayFilter(const Display& display,
                                              const std::vector<Application>& excluded,
                                              const std::vector<Window>& excepting) {
  ContentFilter f;
  f.style = ContentFilter::Style::display;
  f.display = display;
  f.excludedApplications = excluded;
  f.exceptingWindows = excepting;
  f.contentRect = display.frame;
  f.pointPixelScale = display.pointPixelScale;
  return f;
}

ContentFilter X11ScreenCapture::windowFilter(const Window& window) {
  ContentFilter f;
  f.style = ContentFilter::Style::window;
  f.window = window;
  f.contentRect = window.frame;
  f.pointPixelScale = 1;  // one point is one pixel on X11
  return f;
}

ContentFilter X11ScreenCapture::filterAt(const ShareableContent& content, Point point,
                                         const std::string& excludedBundleId) {
  auto excludedApp = [&](const Window& w) { return w.app && w.app->bundleId == excludedBundleId; };
  // The topmost ordinary window under the pointer; the excluded application's windows and
  // panels, docks and menus are looked through.
  for (const Window& w : content.windows) {
    if (!contains(w.frame, point) || excludedApp(w) || w.layer.value_or(0) != 0) continue;
    return windowFilter(w);
  }
  std::vector<Application> excluded;
  for (const Application& a : content.applications)
    if (a.bundleId == excludedBundleId) excluded.push_back(a);
  for (const Display& d : content.displays)
    if (contains(d.frame, point)) return displayFilter(d, excluded, {});
  if (content.displays.empty())
    throw Error("Capture", 7,
                "The selected screen or window is no longer available. Refresh sources and "
                "choose again.");
  return displayFilter(content.displays.front(), excluded, {});
}

ContentFilter X11ScreenCapture::pick(const std::string& excludedBundleId) {
  auto conn = x11::Connection::open();
  if (!conn) throw Error("X11", 1, "No X display could be opened for the screen picker.");
  xcb_connection_t* c = conn->get();
  std::vector<xcb_keycode_t> escape = escapeKeycodes(c);
  std::optional<Point> chosen;
  {
    PickerGrab grab(*conn);
    if (options_.pickerShown) options_.pickerShown();
    uint8_t pressed = 0;
    while (!chosen) {
      Reply<xcb_generic_event_t> e(xcb_wait_for_event(c));
      if (!e) throw Error("X11", 2, "The connection to the X server was lost.");
      uint8_t type = e->response_type & 0x7f;
      if (type == XCB_KEY_PRESS) {
        auto* k = reinterpret_cast<xcb_key_press_event_t*>(e.get());
        if (std::find(escape.begin(), escape.end(), k->detail) != escape.end()) throw cancelled();
      } else if (type == XCB_BUTTON_PRESS) {
        pressed = reinterpret_cast<xcb_button_press_event_t*>(e.get())->detail;
      } else if (type == XCB_BUTTON_RELEASE) {
        // Chosen on release, so the click does not reach the window underneath.
        auto* b = reinterpret_cast<xcb_button_release_event_t*>(e.get());
        if (b->detail == 1 && pressed == 1) chosen = Point{double(b->root_x), double(b->root_y)};
        pressed = 0;
      }
    }
  }
  return filterAt(shareableContent(), *chosen, excludedBundleId);
}

std::unique_ptr<ScreenStream> X11ScreenCapture::createStream(const ContentFilter& filter,
                                                             const StreamConfiguration& config,
                                                             StreamDelegate& delegate,
                                                             QueuePost post) {
  return std::make_unique<X11ScreenStream>(filter, config, delegate, std::move(post),
                                           options_.pulseServer);
}

}  // namespace tavolu
