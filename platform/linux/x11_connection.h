// An owned XCB connection and the small helpers every X11 backend uses: owned replies and
// property reads.
#pragma once

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tavolu::x11 {

template <typename T>
struct FreeDeleter {
  void operator()(T* p) const { std::free(p); }
};
// A reply or event allocated by XCB, freed with free().
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter<T>>;

class Connection {
 public:
  // Connects to $DISPLAY; nothing when no X server can be reached.
  static std::unique_ptr<Connection> open(const char* display = nullptr);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  xcb_connection_t* get() const { return conn_; }
  xcb_screen_t* screen() const { return screen_; }
  xcb_window_t root() const { return screen_->root; }
  // False once the server connection broke.
  bool alive() const { return xcb_connection_has_error(conn_) == 0; }

  // The atom of a name (created when it does not exist yet); cached.
  xcb_atom_t atom(const std::string& name);
  // Raw bytes of a property of any type; nothing when absent.
  std::optional<std::vector<uint8_t>> property(xcb_window_t w, xcb_atom_t prop,
                                               xcb_atom_t type = XCB_ATOM_ANY,
                                               uint8_t* format = nullptr);
  std::optional<std::string> textProperty(xcb_window_t w, const std::string& name,
                                          const std::string& type);
  std::optional<std::vector<uint32_t>> cardinals(xcb_window_t w, const std::string& name,
                                                 xcb_atom_t type);

 private:
  Connection(xcb_connection_t* conn, xcb_screen_t* screen) : conn_(conn), screen_(screen) {}
  xcb_connection_t* conn_;
  xcb_screen_t* screen_;
  std::vector<std::pair<std::string, xcb_atom_t>> atoms_;
};

}  // namespace tavolu::x11
