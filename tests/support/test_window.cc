// tavolu-test-window: one real X11 window for black-box tests, with the properties the
// programs read (title, class, application id, pid, opacity, type) set from the command line.
// Prints "ready <window id>" once mapped, then obeys commands on standard input, one per line:
//   move X Y | resize W H | title TEXT | color RRGGBB | raise | unmap | map | quit
// and exits at end of input.
#include <poll.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

namespace {

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
  auto r = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, strlen(name), name), nullptr);
  xcb_atom_t a = r ? r->atom : XCB_ATOM_NONE;
  free(r);
  return a;
}

void setText(xcb_connection_t* c, xcb_window_t w, const char* prop, const char* type,
             const std::string& text) {
  xcb_atom_t t = std::strcmp(type, "STRING") == 0 ? XCB_ATOM_STRING : atom(c, type);
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, atom(c, prop), t, 8, text.size(), text.data());
}

void setCardinal(xcb_connection_t* c, xcb_window_t w, const char* prop, xcb_atom_t type,
                 uint32_t v) {
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, atom(c, prop), type, 32, 1, &v);
}

}  // namespace

int main(int argc, char** argv) {
  std::string title = "Test window", cls = "TavoluTest", instance = "tavolu-test", appId, type;
  int x = 100, y = 100, width = 400, height = 300;
  long pid = getpid();
  double opacity = -1;
  bool override = false, noTitle = false, noClass = false;
  uint32_t color = 0x3366cc;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
    if (a == "--title")
      title = next();
    else if (a == "--no-title")
      noTitle = true;
    else if (a == "--class")
      cls = next();
    else if (a == "--no-class")
      noClass = true;
    else if (a == "--instance")
      instance = next();
    else if (a == "--app-id")
      appId = next();
    else if (a == "--type")
      type = next();
    else if (a == "--x")
      x = std::atoi(next().c_str());
    else if (a == "--y")
      y = std::atoi(next().c_str());
    else if (a == "--width")
      width = std::atoi(next().c_str());
    else if (a == "--height")
      height = std::atoi(next().c_str());
    else if (a == "--pid")
      pid = std::atol(next().c_str());
    else if (a == "--opacity")
      opacity = std::atof(next().c_str());
    else if (a == "--override")
      override = true;
    else if (a == "--color")
      color = std::strtoul(next().c_str(), nullptr, 16);
  }

  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(c)) {
    std::fprintf(stderr, "tavolu-test-window: cannot open the display\n");
    return 1;
  }
  xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  xcb_window_t w = xcb_generate_id(c);
  uint32_t values[] = {color, override ? 1u : 0u,
                       XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_STRUCTURE_NOTIFY};
  xcb_create_window(c, XCB_COPY_FROM_PARENT, w, screen->root, x, y, width, height, 0,
                    XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                    XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
  if (!noTitle) {
    setText(c, w, "_NET_WM_NAME", "UTF8_STRING", title);
    setText(c, w, "WM_NAME", "STRING", title);
  }
  if (!noClass) {
    std::string wmClass = instance + '\0' + cls + '\0';
    setText(c, w, "WM_CLASS", "STRING", wmClass);
  }
  if (!appId.empty()) setText(c, w, "_GTK_APPLICATION_ID", "UTF8_STRING", appId);
  if (pid >= 0) setCardinal(c, w, "_NET_WM_PID", XCB_ATOM_CARDINAL, static_cast<uint32_t>(pid));
  if (opacity >= 0)
    setCardinal(c, w, "_NET_WM_WINDOW_OPACITY", XCB_ATOM_CARDINAL,
                static_cast<uint32_t>(opacity * 0xFFFFFFFFu));
  if (!type.empty()) {
    xcb_atom_t t = atom(c, ("_NET_WM_WINDOW_TYPE_" + type).c_str());
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, atom(c, "_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM,
                        32, 1, &t);
  }
  xcb_map_window(c, w);
  xcb_flush(c);
  // Wait until the server has mapped it.
  for (;;) {
    xcb_generic_event_t* e = xcb_wait_for_event(c);
    if (!e) return 1;
    bool mapped = (e->response_type & 0x7f) == XCB_MAP_NOTIFY;
    free(e);
    if (mapped) break;
  }
  std::printf("ready %u\n", w);
  std::fflush(stdout);

  std::string line;
  pollfd fds[2] = {{0, POLLIN, 0}, {xcb_get_file_descriptor(c), POLLIN, 0}};
  std::string pending;
  for (;;) {
    while (xcb_generic_event_t* e = xcb_poll_for_event(c)) free(e);
    if (xcb_connection_has_error(c)) return 1;
    if (poll(fds, 2, -1) < 0) continue;
    if (!(fds[0].revents & (POLLIN | POLLHUP))) continue;
    char buf[4096];
    ssize_t n = read(0, buf, sizeof buf);
    if (n <= 0) break;
    pending.append(buf, n);
    size_t nl;
    while ((nl = pending.find('\n')) != std::string::npos) {
      std::istringstream cmd(pending.substr(0, nl));
      pending.erase(0, nl + 1);
      std::string verb;
      cmd >> verb;
      if (verb == "move") {
        int32_t xy[2] = {0, 0};
        cmd >> xy[0] >> xy[1];
        uint32_t v[2] = {uint32_t(xy[0]), uint32_t(xy[1])};
        xcb_configure_window(c, w, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, v);
      } else if (verb == "resize") {
        uint32_t v[2] = {0, 0};
        cmd >> v[0] >> v[1];
        xcb_configure_window(c, w, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, v);
      } else if (verb == "title") {
        std::string t;
        std::getline(cmd >> std::ws, t);
        setText(c, w, "_NET_WM_NAME", "UTF8_STRING", t);
      } else if (verb == "color") {
        std::string hex;
        cmd >> hex;
        uint32_t v = std::strtoul(hex.c_str(), nullptr, 16);
        xcb_change_window_attributes(c, w, XCB_CW_BACK_PIXEL, &v);
        xcb_clear_area(c, 0, w, 0, 0, 0, 0);
      } else if (verb == "raise") {
        uint32_t v = XCB_STACK_MODE_ABOVE;
        xcb_configure_window(c, w, XCB_CONFIG_WINDOW_STACK_MODE, &v);
      } else if (verb == "unmap") {
        xcb_unmap_window(c, w);
      } else if (verb == "map") {
        xcb_map_window(c, w);
      } else if (verb == "quit") {
        xcb_disconnect(c);
        return 0;
      }
      xcb_flush(c);
      // Acknowledge once the server has processed the command.
      free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
      std::printf("ok\n");
      std::fflush(stdout);
    }
  }
  xcb_disconnect(c);
  return 0;
}
