#include "platform/linux/x11_clipboard.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "platform/linux/x11_connection.h"

namespace tavolu {
namespace {

// Serves the clipboard from the child until another client owns it. Never returns.
[[noreturn]] void serveSelection(int readyFd,
                                 const std::vector<std::pair<std::string, std::string>>& content) {
  auto report = [&](char ok) {
    if (write(readyFd, &ok, 1) < 0) {
    }
    close(readyFd);
  };
  auto conn = x11::Connection::open();
  if (!conn) {
    report(0);
    _exit(1);
  }
  xcb_connection_t* c = conn->get();
  xcb_window_t w = xcb_generate_id(c);
  uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
  xcb_create_window(c, XCB_COPY_FROM_PARENT, w, conn->root(), 0, 0, 1, 1, 0,
                    XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &mask);
  xcb_atom_t clipboard = conn->atom("CLIPBOARD");
  xcb_atom_t targetsAtom = conn->atom("TARGETS");
  xcb_atom_t timestampAtom = conn->atom("TIMESTAMP");
  std::vector<std::pair<xcb_atom_t, const std::string*>> served;
  for (auto& [name, bytes] : content) served.emplace_back(conn->atom(name), &bytes);

  // A real server time for the ownership claim: the time stamp of a property change.
  xcb_atom_t stampProp = conn->atom("_TAVOLU_TIMESTAMP");
  xcb_change_property(c, XCB_PROP_MODE_APPEND, w, stampProp, XCB_ATOM_STRING, 8, 0, nullptr);
  xcb_flush(c);
  xcb_timestamp_t when = XCB_CURRENT_TIME;
  while (xcb_generic_event_t* e = xcb_wait_for_event(c)) {
    bool found = (e->response_type & 0x7f) == XCB_PROPERTY_NOTIFY;
    if (found) when = reinterpret_cast<xcb_property_notify_event_t*>(e)->time;
    free(e);
    if (found) break;
  }
  xcb_set_selection_owner(c, w, clipboard, when);
  x11::Reply<xcb_get_selection_owner_reply_t> owner(
      xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, clipboard), nullptr));
  bool owned = owner && owner->owner == w;
  report(owned ? 1 : 0);
  if (!owned) _exit(1);

  while (xcb_generic_event_t* e = xcb_wait_for_event(c)) {
    uint8_t type = e->response_type & 0x7f;
    if (type == XCB_SELECTION_CLEAR) _exit(0);  // someone else took the clipboard
    if (type == XCB_SELECTION_REQUEST) {
      auto* req = reinterpret_cast<xcb_selection_request_event_t*>(e);
      xcb_atom_t property = req->property == XCB_ATOM_NONE ? req->target : req->property;
      bool ok = true;
      if (req->target == targetsAtom) {
        std::vector<xcb_atom_t> list{targetsAtom, timestampAtom};
        for (auto& [atom, bytes] : served) list.push_back(atom);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, req->requestor, property, XCB_ATOM_ATOM, 32,
                            list.size(), list.data());
      } else if (req->target == timestampAtom) {
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, req->requestor, property, XCB_ATOM_INTEGER,
                            32, 1, &when);
      } else {
        ok = false;
        for (auto& [atom, bytes] : served) {
          if (atom != req->target) continue;
          xcb_change_property(c, XCB_PROP_MODE_REPLACE, req->requestor, property, atom, 8,
                              bytes->size(), bytes->data());
          ok = true;
          break;
        }
      }
      xcb_selection_notify_event_t notify{};
      notify.response_type = XCB_SELECTION_NOTIFY;
      notify.time = req->time;
      notify.requestor = req->requestor;
      notify.selection = req->selection;
      notify.target = req->target;
      notify.property = ok ? property : XCB_ATOM_NONE;
      xcb_send_event(c, 0, req->requestor, XCB_EVENT_MASK_NO_EVENT,
                     reinterpret_cast<const char*>(&notify));
      xcb_flush(c);
    }
    free(e);
  }
  _exit(0);  // the X server went away
}

}  // namespace

void X11Clipboard::declareTypes(const std::vector<std::string>&) {
  url_.clear();
  path_.clear();
  names_.clear();
}

bool X11Clipboard::setString(const std::string& value, const std::string& type) {
  if (type == kFileUrl)
    url_ = value;
  else if (type == kString)
    path_ = value;
  else
    return false;
  return publish();
}

bool X11Clipboard::setStringList(const std::vector<std::string>& values, const std::string& type) {
  if (type != kFileNames) return false;
  names_ = values;
  return publish();
}

std::vector<std::pair<std::string, std::string>> X11Clipboard::targets() const {
  std::vector<std::pair<std::string, std::string>> t;
  if (!url_.empty()) {
    t.emplace_back("text/uri-list", url_ + "\r\n");
    t.emplace_back("x-special/gnome-copied-files", "copy\n" + url_);
  }
  if (!path_.empty()) {
    t.emplace_back("UTF8_STRING", path_);
    t.emplace_back("text/plain;charset=utf-8", path_);
    t.emplace_back("text/plain", path_);
    t.emplace_back("STRING", path_);
  }
  return t;
}

bool X11Clipboard::publish() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  auto content = targets();
  pid_t child = fork();
  if (child < 0) {
    close(fds[0]);
    close(fds[1]);
    return false;
  }
  if (child == 0) {
    // A grandchild serves the selection, detached from our session and our pipes, so the
    // host's reading of our output ends when we exit.
    close(fds[0]);
    setsid();
    if (fork() != 0) _exit(0);
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    serveSelection(fds[1], content);
  }
  close(fds[1]);
  waitpid(child, nullptr, 0);
  char ok = 0;
  ssize_t n;
  do n = read(fds[0], &ok, 1);
  while (n < 0 && errno == EINTR);
  close(fds[0]);
  return n == 1 && ok == 1;
}

}  // namespace tavolu
