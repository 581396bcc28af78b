#include "platform/linux/x11_window_system.h"

#include <xcb/randr.h>

#include <algorithm>
#include <cstdlib>
#include <set>

#include "platform/error.h"

namespace tavolu {
namespace {

// Window levels for windows that are not ordinary application windows.
constexpr int64_t kDockLayer = 20;
constexpr int64_t kNotificationLayer = 25;
constexpr int64_t kOverrideRedirectLayer = 101;

std::string noDisplayMessage() {
  const char* d = std::getenv("DISPLAY");
  return std::string("No X display could be opened (DISPLAY=") + (d ? d : "unset") + ").";
}

}  // namespace

x11::Connection* X11WindowSystem::connection() {
  if (!conn_ || !conn_->alive()) conn_ = x11::Connection::open();
  return conn_.get();
}

bool X11WindowSystem::screenCaptureAccess() {
  std::lock_guard lock(mutex_);
  return connection() != nullptr;
}

bool X11WindowSystem::inputMonitoringAccess(bool) {
  // Polling the pointer and keyboard needs no permission on X11, only a display.
  std::lock_guard lock(mutex_);
  return connection() != nullptr;
}

ShareableContent X11WindowSystem::shareableContent() {
  std::lock_guard lock(mutex_);
  x11::Connection* c = connection();
  if (!c) throw Error("X11", 1, noDisplayMessage());
  ShareableContent content;
  content.displays = displays(*c);
  for (Window& w : windows(*c)) {
    if (!w.onScreen) continue;
    if (w.app) {
      auto same = [&](const Application& a) {
        return a.pid == w.app->pid && a.bundleId == w.app->bundleId;
      };
      if (std::none_of(content.applications.begin(), content.applications.end(), same))
        content.applications.push_back(*w.app);
    }
    content.windows.push_back(std::move(w));
  }
  if (!c->alive()) throw Error("X11", 2, "The connection to the X server was lost.");
  return content;
}

std::optional<std::vector<Window>> X11WindowSystem::windowList() {
  std::lock_guard lock(mutex_);
  x11::Connection* c = connection();
  if (!c) return std::nullopt;
  std::vector<Window> list;
  for (Window& w : windows(*c))
    if (w.onScreen) list.push_back(std::move(w));
  if (!c->alive()) return std::nullopt;
  return list;
}

std::vector<Display> X11WindowSystem::displays(x11::Connection& c) {
  std::vector<Display> result;
  xcb_connection_t* conn = c.get();
  x11::Reply<xcb_randr_get_monitors_reply_t> monitors(
      xcb_randr_get_monitors_reply(conn, xcb_randr_get_monitors(conn, c.root(), 1), nullptr));
  if (monitors) {
    std::vector<std::pair<bool, Display>> found;
    for (auto it = xcb_randr_get_monitors_monitors_iterator(monitors.get()); it.rem;
         xcb_randr_monitor_info_next(&it)) {
      const xcb_randr_monitor_info_t* m = it.data;
      Display d;
      d.id = m->name;  // the monitor's name atom: stable for the life of the server
      d.width = m->width;
      d.height = m->height;
      d.frame = {double(m->x), double(m->y), double(m->width), double(m->height)};
      found.emplace_back(m->primary, d);
    }
    // The primary monitor is the main display and comes first.
    std::stable_sort(found.begin(), found.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    for (auto& [primary, d] : found) result.push_back(d);
  }
  if (result.empty()) {
    Display d;
    d.id = 1;
    d.width = c.screen()->width_in_pixels;
    d.height = c.screen()->height_in_pixels;
    d.frame = {0, 0, double(d.width), double(d.height)};
    result.push_back(d);
  }
  return result;
}

std::vector<Window> X11WindowSystem::windows(x11::Connection& c) {
  xcb_connection_t* conn = c.get();
  // Bottom-to-top: the window manager's stacking list, or the root's children without one.
  std::vector<xcb_window_t> order;
  if (auto stacking = c.cardinals(c.root(), "_NET_CLIENT_LIST_STACKING", XCB_ATOM_WINDOW)) {
    order.assign(stacking->begin(), stacking->end());
  } else {
    x11::Reply<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(conn, xcb_query_tree(conn, c.root()), nullptr));
    if (tree) {
      xcb_window_t* children = xcb_query_tree_children(tree.get());
      order.assign(children, children + xcb_query_tree_children_length(tree.get()));
    }
  }
  std::vector<Window> result;
  std::set<xcb_window_t> seen;
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    if (!seen.insert(*it).second) continue;
    if (auto w = describe(c, *it)) result.push_back(std::move(*w));
  }
  return result;
}

std::optional<Window> X11WindowSystem::describe(x11::Connection& c, xcb_window_t id) {
  xcb_connection_t* conn = c.get();
  auto attrsCookie = xcb_get_window_attributes(conn, id);
  auto geomCookie = xcb_get_geometry(conn, id);
  auto posCookie = xcb_translate_coordinates(conn, id, c.root(), 0, 0);
  x11::Reply<xcb_get_window_attributes_reply_t> attrs(
      xcb_get_window_attributes_reply(conn, attrsCookie, nullptr));
  x11::Reply<xcb_get_geometry_reply_t> geom(xcb_get_geometry_reply(conn, geomCookie, nullptr));
  x11::Reply<xcb_translate_coordinates_reply_t> pos(
      xcb_translate_coordinates_reply(conn, posCookie, nullptr));
  if (!attrs || !geom || !pos) return std::nullopt;  // destroyed meanwhile
  if (attrs->_class == XCB_WINDOW_CLASS_INPUT_ONLY) return std::nullopt;

  Window w;
  w.id = id;
  w.frame = {double(pos->dst_x), double(pos->dst_y), double(geom->width), double(geom->height)};
  w.onScreen = attrs->map_state == XCB_MAP_STATE_VIEWABLE;

  w.layer = 0;
  if (attrs->override_redirect) w.layer = kOverrideRedirectLayer;
  if (auto types = c.cardinals(id, "_NET_WM_WINDOW_TYPE", XCB_ATOM_ATOM)) {
    for (uint32_t t : *types) {
      if (t == c.atom("_NET_WM_WINDOW_TYPE_DESKTOP")) return std::nullopt;  // desktop element
      if (t == c.atom("_NET_WM_WINDOW_TYPE_DOCK")) w.layer = kDockLayer;
      if (t == c.atom("_NET_WM_WINDOW_TYPE_NOTIFICATION")) w.layer = kNotificationLayer;
    }
  }

  w.title = c.textProperty(id, "_NET_WM_NAME", "UTF8_STRING");
  if (!w.title) w.title = c.textProperty(id, "WM_NAME", "STRING");
  if (auto pid = c.cardinals(id, "_NET_WM_PID", XCB_ATOM_CARDINAL); pid && !pid->empty())
    w.ownerPid = static_cast<int32_t>((*pid)[0]);
  if (auto opacity = c.cardinals(id, "_NET_WM_WINDOW_OPACITY", XCB_ATOM_CARDINAL);
      opacity && !opacity->empty())
    w.alpha = double((*opacity)[0]) / 0xFFFFFFFFu;

  // WM_CLASS holds "instance\0class\0"; the class names the application.
  if (auto cls = c.textProperty(id, "WM_CLASS", "STRING")) {
    size_t nul = cls->find('\0');
    std::string className = nul == std::string::npos ? "" : cls->substr(nul + 1);
    if (auto end = className.find('\0'); end != std::string::npos) className.resize(end);
    Application app;
    app.name = className;
    app.bundleId = c.textProperty(id, "_GTK_APPLICATION_ID", "UTF8_STRING").value_or(className);
    app.pid = w.ownerPid.value_or(0);
    w.app = app;
  }
  return w;
}

}  // namespace tavolu
