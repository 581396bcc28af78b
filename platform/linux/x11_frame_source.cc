#include "platform/linux/x11_frame_source.h"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/composite.h>
#include <xcb/damage.h>
#include <xcb/shm.h>
#include <xcb/xfixes.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <optional>
#include <set>

#include "platform/linux/frame_compositing.h"
#include "platform/linux/frame_geometry.h"
#include "platform/linux/frame_status_tracker.h"
#include "platform/linux/x11_connection.h"

namespace tavolu {
namespace {

using x11::Reply;
using Clock = std::chrono::steady_clock;

constexpr size_t kPoolSize = 12;  // frames in flight: the queue depth plus the writers' queues

Error connectionLost() { return Error("X11", 2, "The connection to the X server was lost."); }

Error sourceGone(const std::string& reason) {
  return Error("Capture", 7,
               "The selected screen or window is no longer available. Refresh sources and "
               "choose again.",
               {{"reason", reason}});
}

Error xError(const std::string& what, const xcb_generic_error_t* e) {
  return Error("X11", 5, what + " (X error " + std::to_string(e ? e->error_code : 0) + ").");
}

std::string hex(uint32_t id) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%x", id);
  return buf;
}

// A SysV shared-memory segment attached to the X server, which writes pictures into it.
class ShmSegment {
 public:
  ShmSegment(xcb_connection_t* c, size_t size) : c_(c), size_(size) {
    id_ = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (id_ < 0) return;
    void* addr = shmat(id_, nullptr, 0);
    if (addr == reinterpret_cast<void*>(-1)) {
      shmctl(id_, IPC_RMID, nullptr);
      return;
    }
    addr_ = static_cast<uint8_t*>(addr);
    seg_ = xcb_generate_id(c);
    Reply<xcb_generic_error_t> err(
        xcb_request_check(c, xcb_shm_attach_checked(c, seg_, uint32_t(id_), 0)));
    // The segment disappears once both sides have detached, also if this process dies.
    shmctl(id_, IPC_RMID, nullptr);
    attached_ = !err;
  }
  ~ShmSegment() {
    if (attached_) xcb_shm_detach(c_, seg_);
    if (addr_) shmdt(addr_);
  }
  bool usable() const { return attached_; }
  size_t size() const { return size_; }
  uint8_t* data() const { return addr_; }
  xcb_shm_seg_t seg() const { return seg_; }

 private:
  xcb_connection_t* c_;
  size_t size_;
  int id_ = -1;
  uint8_t* addr_ = nullptr;
  xcb_shm_seg_t seg_ = 0;
  bool attached_ = false;
};

bool queryExtension(xcb_connection_t* c, xcb_extension_t* ext) {
  const xcb_query_extension_reply_t* r = xcb_get_extension_data(c, ext);
  return r && r->present;
}

}  // namespace

struct X11FrameSource::Impl {
  std::unique_ptr<x11::Connection> conn;
  xcb_connection_t* c = nullptr;
  xcb_window_t root = 0;
  ContentFilter filter;
  StreamConfiguration config;
  bool windowSource = false;
  xcb_window_t window = 0;

  // What is read: the root window for displays, the window's off-screen pixmap for windows.
  xcb_drawable_t drawable = 0;
  xcb_pixmap_t pixmap = 0;
  bool pixmapStale = true;  // the window was resized or mapped: name its pixmap again
  xcb_damage_damage_t damageObject = 0;
  uint8_t damageEvent = 0;

  std::unique_ptr<ShmSegment> shm;
  bool useShm = true;

  // Where the source is on screen (root coordinates) and what of it is read.
  PixelRect sourceOnScreen;
  int border = 0;  // window border: the pixmap holds it around the contents
  bool mapped = true;

  // What happened since the previous frame. Damage reported since the last subtraction, in the
  // drawable's coordinates (root coordinates for displays, window coordinates for windows).
  std::vector<PixelRect> damage;
  bool geometryChanged = false, windowGone = false;
  FrameStatusTracker tracker;

  // The pointer.
  CursorImage cursor;
  uint32_t cursorSerial = 0;
  bool haveCursor = false;
  int cursorX = 0, cursorY = 0;  // top-left corner of the pointer image, root coordinates
  int hotX = 0, hotY = 0;        // the pointer's position, root coordinates
  bool buttonDown = false;       // a mouse button is held (drawn when clicks are shown)

  // Excluded applications' windows on a display.
  bool excluding = false;
  bool stackDirty = true;
  std::vector<PixelRect> hidden;  // root coordinates
  struct ClientInfo {
    std::string appId;
    int32_t pid = 0;
  };
  std::map<xcb_window_t, ClientInfo> clients;

  PixelBufferRef last;
  std::vector<std::shared_ptr<PixelBuffer>> pool;
  std::atomic<int64_t> pictureNs{0};

  void open();
  void openWindow();
  void drainEvents();
  void refreshWindowGeometry();
  bool refreshCursor(const PixelRect& area);
  void refreshHidden();
  bool clientExcluded(xcb_window_t client);
  bool namePixmap();
  const uint8_t* grab(const PixelRect& r, int* stride);
  std::shared_ptr<PixelBuffer> takeBuffer(int w, int h);
  Frame unchanged(Frame frame);
  Frame next();
};

void X11FrameSource::Impl::open() {
  conn = x11::Connection::open();
  if (!conn) {
    const char* d = std::getenv("DISPLAY");
    throw Error("X11", 1,
                std::string("No X display could be opened (DISPLAY=") + (d ? d : "unset") + ").");
  }
  c = conn->get();
  root = conn->root();
  windowSource = filter.style == ContentFilter::Style::window;
  if (windowSource && !filter.window) throw sourceGone("the window filter names no window");
  if (!windowSource && !filter.display) throw sourceGone("the filter names no display");

  // Extensions. Each must have its version negotiated before use.
  for (auto [ext, name] : {std::pair{&xcb_damage_id, "DAMAGE"}, {&xcb_xfixes_id, "XFIXES"}})
    if (!queryExtension(c, ext))
      throw Error("X11", 3, std::string("The X server lacks the ") + name + " extension.");
  free(xcb_damage_query_version_reply(c, xcb_damage_query_version(c, 1, 1), nullptr));
  free(xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 4, 0), nullptr));
  damageEvent = xcb_get_extension_data(c, &xcb_damage_id)->first_event + XCB_DAMAGE_NOTIFY;
  useShm = queryExtension(c, &xcb_shm_id);

  // Pictures are taken as 32-bit pixels, blue first in memory.
  const xcb_setup_t* setup = xcb_get_setup(c);
  bool format32 = false;
  for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem; xcb_format_next(&it))
    if (it.data->depth == conn->screen()->root_depth && it.data->bits_per_pixel == 32)
      format32 = true;
  if (!format32 || setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST)
    throw Error("X11", 3,
                "The X display's pixel format (depth " +
                    std::to_string(conn->screen()->root_depth) +
                    ") cannot be recorded; a 24- or 32-bit colour display is needed.");

  size_t shmSize;
  if (windowSource) {
    openWindow();
    shmSize = size_t(std::max<int>(conn->screen()->width_in_pixels, sourceOnScreen.width)) *
              std::max<int>(conn->screen()->height_in_pixels, sourceOnScreen.height) * 4;
  } else {
    drawable = root;
    const Rect& f = filter.display->frame;
    PixelRect screen{0, 0, conn->screen()->width_in_pixels, conn->screen()->height_in_pixels};
    PixelRect frame{int(f.x), int(f.y), int(f.width), int(f.height)};
    sourceOnScreen = intersect(frame, screen);
    if (sourceOnScreen.empty())
      throw sourceGone("display " + std::to_string(filter.display->id) + " is off the screen");
    shmSize = size_t(sourceOnScreen.width) * sourceOnScreen.height * 4;
    excluding = !filter.excludedApplications.empty();
    if (excluding) {
      // Stacking changes and moves of top-level windows mark the hidden areas for a refresh.
      uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;
      xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
    }
  }
  damageObject = xcb_generate_id(c);
  Reply<xcb_generic_error_t> err(
      xcb_request_check(c, xcb_damage_create_checked(c, damageObject, windowSource ? window : root,
                                                     XCB_DAMAGE_REPORT_LEVEL_BOUNDING_BOX)));
  if (err) {
    damageObject = 0;
    if (windowSource) throw sourceGone("window " + hex(window) + " is gone");
    throw xError("Changes to the screen cannot be tracked", err.get());
  }
  if (useShm) {
    shm = std::make_unique<ShmSegment>(c, shmSize);
    // A server on another machine cannot share memory: fall back to plain reads.
    if (!shm->usable()) {
      shm.reset();
      useShm = false;
    }
  }
  if (!conn->alive()) throw connectionLost();
}

void X11FrameSource::Impl::openWindow() {
  window = filter.window->id;
  if (!queryExtension(c, &xcb_composite_id))
    throw Error("X11", 3, "The X server lacks the Composite extension needed to record windows.");
  free(xcb_composite_query_version_reply(c, xcb_composite_query_version(c, 0, 4), nullptr));
  // Events about the window itself: moves, resizes, unmapping and destruction.
  uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
  Reply<xcb_generic_error_t> err(xcb_request_check(
      c, xcb_change_window_attributes_checked(c, window, XCB_CW_EVENT_MASK, &mask)));
  if (err) throw sourceGone("window " + hex(window) + " is gone");
  // Automatic redirection keeps the window's whole picture off screen, also where it is
  // covered; the server still shows it as before. It ends with this connection.
  xcb_composite_redirect_window(c, window, XCB_COMPOSITE_REDIRECT_AUTOMATIC);
  auto attrs = xcb_get_window_attributes(c, window);
  Reply<xcb_get_window_attributes_reply_t> a(xcb_get_window_attributes_reply(c, attrs, nullptr));
  if (!a) throw sourceGone("window " + hex(window) + " is gone");
  mapped = a->map_state == XCB_MAP_STATE_VIEWABLE;
  if (!mapped) throw sourceGone("window " + hex(window) + " is not on screen");
  Reply<xcb_get_geometry_reply_t> g(
      xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr));
  if (!g) throw sourceGone("window " + hex(window) + " is gone");
  if (g->depth != 24 && g->depth != 32)
    throw Error("X11", 3, "Windows of depth " + std::to_string(g->depth) + " cannot be recorded.");
  refreshWindowGeometry();
  if (windowGone) throw sourceGone("window " + hex(window) + " is gone");
}

void X11FrameSource::Impl::drainEvents() {
  while (xcb_generic_event_t* raw = xcb_poll_for_event(c)) {
    Reply<xcb_generic_event_t> e(raw);
    uint8_t type = e->response_type & 0x7f;
    if (type == 0) continue;  // errors of requests whose replies nobody waits for
    if (type == damageEvent) {
      const xcb_rectangle_t& a = reinterpret_cast<xcb_damage_notify_event_t*>(e.get())->area;
      damage.push_back({a.x, a.y, a.width, a.height});
    } else if (type == XCB_DESTROY_NOTIFY) {
      auto* d = reinterpret_cast<xcb_destroy_notify_event_t*>(e.get());
      if (windowSource && d->window == window) windowGone = true;
      clients.clear();  // ids may be reused
      stackDirty = true;
    } else if (type == XCB_UNMAP_NOTIFY) {
      auto* u = reinterpret_cast<xcb_unmap_notify_event_t*>(e.get());
      if (windowSource && u->window == window) mapped = false;
      stackDirty = true;
    } else if (type == XCB_MAP_NOTIFY) {
      auto* m = reinterpret_cast<xcb_map_notify_event_t*>(e.get());
      if (windowSource && m->window == window) {
        mapped = true;
        pixmapStale = true;
        geometryChanged = true;
      }
      stackDirty = true;
    } else if (type == XCB_CONFIGURE_NOTIFY || type == XCB_REPARENT_NOTIFY ||
               type == XCB_CREATE_NOTIFY || type == XCB_PROPERTY_NOTIFY ||
               type == XCB_CIRCULATE_NOTIFY || type == XCB_GRAVITY_NOTIFY) {
      stackDirty = true;
    }
  }
}

void X11FrameSource::Impl::refreshWindowGeometry() {
  auto posCookie = xcb_translate_coordinates(c, window, root, 0, 0);
  auto geomCookie = xcb_get_geometry(c, window);
  xcb_generic_error_t* e1 = nullptr;
  xcb_generic_error_t* e2 = nullptr;
  Reply<xcb_translate_coordinates_reply_t> pos(xcb_translate_coordinates_reply(c, posCookie, &e1));
  Reply<xcb_get_geometry_reply_t> geom(xcb_get_geometry_reply(c, geomCookie, &e2));
  Reply<xcb_generic_error_t> err1(e1), err2(e2);
  if (!pos || !geom) {
    if (conn->alive()) windowGone = true;
    return;
  }
  PixelRect now{pos->dst_x, pos->dst_y, geom->width, geom->height};
  if (now != sourceOnScreen) {
    if (now.width != sourceOnScreen.width || now.height != sourceOnScreen.height)
      pixmapStale = true;
    sourceOnScreen = now;
    geometryChanged = true;
  }
  border = geom->border_width;
}

bool X11FrameSource::Impl::namePixmap() {
  if (pixmap) xcb_free_pixmap(c, pixmap);
  pixmap = xcb_generate_id(c);
  Reply<xcb_generic_error_t> err(
      xcb_request_check(c, xcb_composite_name_window_pixmap_checked(c, window, pixmap)));
  if (err) {
    // Not viewable at the moment (unmapped meanwhile); tried again once it is mapped.
    pixmap = 0;
    return false;
  }
  drawable = pixmap;
  pixmapStale = false;
  return true;
}

bool X11FrameSource::Impl::refreshCursor(const PixelRect& area) {
  auto imageCookie = xcb_xfixes_get_cursor_image(c);
  std::optional<xcb_query_pointer_cookie_t> pointerCookie;
  if (config.showMouseClicks) pointerCookie = xcb_query_pointer(c, root);
  Reply<xcb_xfixes_get_cursor_image_reply_t> r(
      xcb_xfixes_get_cursor_image_reply(c, imageCookie, nullptr));
  bool down = buttonDown;
  if (pointerCookie) {
    Reply<xcb_query_pointer_reply_t> p(xcb_query_pointer_reply(c, *pointerCookie, nullptr));
    if (p) down = (p->mask & (XCB_BUTTON_MASK_1 | XCB_BUTTON_MASK_2 | XCB_BUTTON_MASK_3)) != 0;
  }
  if (!r) return false;
  int x = r->x - r->xhot, y = r->y - r->yhot;
  // What is drawn: the pointer image and, while a button is held, the click ring around it.
  auto drawnArea = [&] {
    PixelRect image{cursorX, cursorY, cursor.width, cursor.height};
    if (!buttonDown) return image;
    PixelRect ring{hotX - kClickRingRadius - 2, hotY - kClickRingRadius - 2,
                   2 * kClickRingRadius + 4, 2 * kClickRingRadius + 4};
    return ring;
  };
  PixelRect before = drawnArea();
  bool changed = !haveCursor || x != cursorX || y != cursorY || r->cursor_serial != cursorSerial ||
                 down != buttonDown;
  if (!haveCursor || r->cursor_serial != cursorSerial) {
    const uint32_t* px = xcb_xfixes_get_cursor_image_cursor_image(r.get());
    int n = xcb_xfixes_get_cursor_image_cursor_image_length(r.get());
    cursor.width = r->width;
    cursor.height = r->height;
    cursor.pixels.assign(px, px + n);
    cursorSerial = r->cursor_serial;
  }
  bool hadCursor = haveCursor;
  haveCursor = true;
  cursorX = x;
  cursorY = y;
  hotX = r->x;
  hotY = r->y;
  buttonDown = down;
  if (!changed) return false;
  // Only a pointer that is or was over the captured area changes the picture.
  return !intersect(drawnArea(), area).empty() || (hadCursor && !intersect(before, area).empty());
}

bool X11FrameSource::Impl::clientExcluded(xcb_window_t client) {
  for (const Window& w : filter.exceptingWindows)
    if (w.id == client) return false;
  auto it = clients.find(client);
  if (it == clients.end()) {
    // Read the way the window list reads them: the application id, else the WM_CLASS class.
    ClientInfo info;
    std::string className;
    if (auto cls = conn->textProperty(client, "WM_CLASS", "STRING")) {
      size_t nul = cls->find('\0');
      if (nul != std::string::npos) className = cls->substr(nul + 1);
      if (auto end = className.find('\0'); end != std::string::npos) className.resize(end);
    }
    info.appId =
        conn->textProperty(client, "_GTK_APPLICATION_ID", "UTF8_STRING").value_or(className);
    if (auto pid = conn->cardinals(client, "_NET_WM_PID", XCB_ATOM_CARDINAL); pid && !pid->empty())
      info.pid = int32_t((*pid)[0]);
    it = clients.emplace(client, info).first;
  }
  for (const Application& a : filter.excludedApplications) {
    if (!a.bundleId.empty() ? a.bundleId == it->second.appId
                            : a.pid != 0 && a.pid == it->second.pid)
      return true;
  }
  return false;
}

void X11FrameSource::Impl::refreshHidden() {
  stackDirty = false;
  hidden.clear();
  Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr));
  if (!tree) return;
  xcb_window_t* kids = xcb_query_tree_children(tree.get());
  std::vector<xcb_window_t> topLevels(kids, kids + xcb_query_tree_children_length(tree.get()));
  std::set<xcb_window_t> topSet(topLevels.begin(), topLevels.end());

  // Client windows: the window manager's list, or the top-level windows themselves.
  std::vector<xcb_window_t> clientList;
  if (auto list = conn->cardinals(root, "_NET_CLIENT_LIST", XCB_ATOM_WINDOW))
    clientList.assign(list->begin(), list->end());
  else
    clientList = topLevels;

  // The top-level window (a window manager's frame, or the client itself) of each excluded
  // client is hidden whole, decorations included.
  std::set<xcb_window_t> hiddenTops;
  for (xcb_window_t client : clientList) {
    if (!clientExcluded(client)) continue;
    xcb_window_t w = client;
    for (int depth = 0; depth < 8 && !topSet.count(w); ++depth) {
      Reply<xcb_query_tree_reply_t> t(xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr));
      if (!t || t->parent == XCB_NONE) break;
      w = t->parent;
    }
    if (topSet.count(w)) hiddenTops.insert(w);
  }
  if (hiddenTops.empty()) return;

  // Viewable top-level windows front to back; windows in front of a hidden one stay visible.
  std::vector<xcb_get_window_attributes_cookie_t> attrCookies;
  std::vector<xcb_get_geometry_cookie_t> geomCookies;
  for (xcb_window_t w : topLevels) {
    attrCookies.push_back(xcb_get_window_attributes(c, w));
    geomCookies.push_back(xcb_get_geometry(c, w));
  }
  std::vector<StackedWindow> stack;
  for (size_t i = 0; i < topLevels.size(); ++i) {
    Reply<xcb_get_window_attributes_reply_t> a(
        xcb_get_window_attributes_reply(c, attrCookies[i], nullptr));
    Reply<xcb_get_geometry_reply_t> g(xcb_get_geometry_reply(c, geomCookies[i], nullptr));
    if (!a || !g || a->map_state != XCB_MAP_STATE_VIEWABLE ||
        a->_class == XCB_WINDOW_CLASS_INPUT_ONLY)
      continue;
    int b = g->border_width;
    stack.push_back(
        {{g->x, g->y, g->width + 2 * b, g->height + 2 * b}, hiddenTops.count(topLevels[i]) > 0});
  }
  std::reverse(stack.begin(), stack.end());
  hidden = hiddenAreas(stack);
}

const uint8_t* X11FrameSource::Impl::grab(const PixelRect& r, int* stride) {
  *stride = r.width * 4;
  size_t bytes = size_t(r.width) * r.height * 4;
  if (useShm) {
    if (!shm || shm->size() < bytes) {
      shm.reset();
      shm = std::make_unique<ShmSegment>(c, bytes);
      if (!shm->usable())
        throw Error("X11", 5, "Shared memory for reading the screen could not be set up.");
    }
    xcb_generic_error_t* e = nullptr;
    Reply<xcb_shm_get_image_reply_t> img(xcb_shm_get_image_reply(
        c,
        xcb_shm_get_image(c, drawable, int16_t(r.x), int16_t(r.y), uint16_t(r.width),
                          uint16_t(r.height), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, shm->seg(), 0),
        &e));
    Reply<xcb_generic_error_t> err(e);
    if (!img) return nullptr;
    return shm->data();
  }
  static thread_local std::vector<uint8_t> plain;
  xcb_generic_error_t* e = nullptr;
  Reply<xcb_get_image_reply_t> img(
      xcb_get_image_reply(c,
                          xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, int16_t(r.x),
                                        int16_t(r.y), uint16_t(r.width), uint16_t(r.height), ~0u),
                          &e));
  Reply<xcb_generic_error_t> err(e);
  if (!img || size_t(xcb_get_image_data_length(img.get())) < bytes) return nullptr;
  plain.assign(xcb_get_image_data(img.get()), xcb_get_image_data(img.get()) + bytes);
  return plain.data();
}

X11FrameSource::Frame X11FrameSource::Impl::unchanged(Frame frame) {
  // Idle shows the previous picture again; before any picture there is nothing to show.
  frame.status = last ? FrameStatus::idle : FrameStatus::blank;
  frame.pixels = last;
  frame.pts = hostTimeNow();
  return frame;
}

std::shared_ptr<PixelBuffer> X11FrameSource::Impl::takeBuffer(int w, int h) {
  // A pooled buffer that nobody else holds any more can be written again.
  for (auto& b : pool) {
    if (b.use_count() == 1 && b->width == w && b->height == h) {
      std::atomic_thread_fence(std::memory_order_acquire);
      return b;
    }
  }
  auto b = PixelBuffer::make(w, h);
  if (pool.size() < kPoolSize) pool.push_back(b);
  return b;
}

X11FrameSource::Frame X11FrameSource::Impl::next() {
  drainEvents();
  if (!conn->alive()) throw connectionLost();
  if (windowSource) {
    if (!windowGone) refreshWindowGeometry();
    if (windowGone) throw sourceGone("window " + hex(window) + " was closed");
    if (!conn->alive()) throw connectionLost();
  }
  if (excluding && stackDirty) refreshHidden();

  PixelRect g = grabRect(sourceOnScreen.width, sourceOnScreen.height, config.sourceRect);
  PixelRect area{sourceOnScreen.x + g.x, sourceOnScreen.y + g.y, g.width, g.height};
  Frame frame;
  frame.screenRect = {double(area.x), double(area.y), double(area.width), double(area.height)};

  // Only drawing inside the captured area changes the picture. The damage is forgotten as
  // soon as it is read, on the same connection as the reads: drawing that happens later is
  // reported again, so no change can fall between two frames.
  FrameStatusTracker::Changes changes;
  PixelRect inDrawable = windowSource ? g : area;
  for (const PixelRect& d : damage) changes.damaged |= !intersect(d, inDrawable).empty();
  if (!damage.empty()) xcb_damage_subtract(c, damageObject, XCB_NONE, XCB_NONE);
  damage.clear();
  changes.geometryChanged = geometryChanged;
  if (config.showsCursor || config.showMouseClicks) changes.cursorChanged = refreshCursor(area);
  if (!conn->alive()) throw connectionLost();

  // An unmapped window, or a crop outside a shrunken window, has nothing new to show.
  bool readable = !g.empty() && (!windowSource || mapped);
  if (!readable) return unchanged(frame);
  frame.status = tracker.next(changes);
  if (frame.status != FrameStatus::complete) return unchanged(frame);

  auto start = Clock::now();
  geometryChanged = false;
  if (windowSource && (pixmapStale || !pixmap) && !namePixmap()) {
    tracker.dropped(FrameStatus::complete);
    return unchanged(frame);
  }
  PixelRect read = g;
  if (windowSource) {
    read.x += border;
    read.y += border;
  } else {
    read.x += sourceOnScreen.x;
    read.y += sourceOnScreen.y;
  }
  frame.pts = hostTimeNow();
  int stride = 0;
  const uint8_t* pixels = grab(read, &stride);
  if (!pixels) {
    if (!conn->alive()) throw connectionLost();
    if (windowSource) {
      // Destroyed, or resized between the geometry query and the read: try again next time.
      refreshWindowGeometry();
      if (windowGone) throw sourceGone("window " + hex(window) + " was closed");
      pixmapStale = true;
      tracker.dropped(FrameStatus::complete);
      return unchanged(frame);
    }
    throw Error("X11", 5, "The screen could not be read.");
  }
  ImageView view{const_cast<uint8_t*>(pixels), g.width, g.height, stride};
  if (!hidden.empty()) {
    std::vector<PixelRect> local;
    for (const PixelRect& h : hidden)
      local.push_back({h.x - area.x, h.y - area.y, h.width, h.height});
    fillBlack(view, local);
  }
  if (config.showMouseClicks && haveCursor && buttonDown)
    drawClickRing(view, hotX - area.x, hotY - area.y);
  if (config.showsCursor && haveCursor)
    drawCursor(view, cursor, cursorX - area.x, cursorY - area.y);

  int outW = config.width > 0 ? config.width : g.width;
  int outH = config.height > 0 ? config.height : g.height;
  auto buffer = takeBuffer(outW, outH);
  renderFrame(view, frameLayout(g.width, g.height, outW, outH), *buffer);
  last = buffer;
  frame.pixels = buffer;
  pictureNs += std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
  return frame;
}

X11FrameSource::X11FrameSource(const ContentFilter& filter, const StreamConfiguration& config)
    : impl_(std::make_unique<Impl>()) {
  impl_->filter = filter;
  impl_->config = config;
  impl_->open();
}

X11FrameSource::~X11FrameSource() {
  Impl& s = *impl_;
  if (!s.c || !s.conn->alive()) return;
  s.shm.reset();
  if (s.damageObject) xcb_damage_destroy(s.c, s.damageObject);
  if (s.pixmap) xcb_free_pixmap(s.c, s.pixmap);
  if (s.windowSource && s.window)
    xcb_composite_unredirect_window(s.c, s.window, XCB_COMPOSITE_REDIRECT_AUTOMATIC);
  xcb_flush(s.c);
}

X11FrameSource::Frame X11FrameSource::next() { return impl_->next(); }

void X11FrameSource::dropped(const Frame& frame) { impl_->tracker.dropped(frame.status); }

std::chrono::nanoseconds X11FrameSource::pictureTime() const {
  return std::chrono::nanoseconds(impl_->pictureNs.load());
}

}  // namespace tavolu
