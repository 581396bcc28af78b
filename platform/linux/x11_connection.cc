#include "platform/linux/x11_connection.h"

#include <cstring>

namespace tavolu::x11 {

std::unique_ptr<Connection> Connection::open(const char* display) {
  int screenNumber = 0;
  xcb_connection_t* conn = xcb_connect(display, &screenNumber);
  if (!conn || xcb_connection_has_error(conn)) {
    if (conn) xcb_disconnect(conn);
    return nullptr;
  }
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(conn));
  for (int i = 0; i < screenNumber && it.rem; ++i) xcb_screen_next(&it);
  if (!it.rem) {
    xcb_disconnect(conn);
    return nullptr;
  }
  return std::unique_ptr<Connection>(new Connection(conn, it.data));
}

Connection::~Connection() { xcb_disconnect(conn_); }

xcb_atom_t Connection::atom(const std::string& name) {
  for (auto& [n, a] : atoms_)
    if (n == name) return a;
  Reply<xcb_intern_atom_reply_t> r(xcb_intern_atom_reply(
      conn_, xcb_intern_atom(conn_, 0, static_cast<uint16_t>(name.size()), name.data()), nullptr));
  xcb_atom_t a = r ? r->atom : XCB_ATOM_NONE;
  atoms_.emplace_back(name, a);
  return a;
}

std::optional<std::vector<uint8_t>> Connection::property(xcb_window_t w, xcb_atom_t prop,
                                                         xcb_atom_t type, uint8_t* format) {
  if (prop == XCB_ATOM_NONE) return std::nullopt;
  Reply<xcb_get_property_reply_t> r(xcb_get_property_reply(
      conn_, xcb_get_property(conn_, 0, w, prop, type, 0, 1 << 20), nullptr));
  if (!r || r->type == XCB_ATOM_NONE) return std::nullopt;
  if (format) *format = r->format;
  auto* data = static_cast<const uint8_t*>(xcb_get_property_value(r.get()));
  int len = xcb_get_property_value_length(r.get());
  return std::vector<uint8_t>(data, data + len);
}

std::optional<std::string> Connection::textProperty(xcb_window_t w, const std::string& name,
                                                    const std::string& type) {
  xcb_atom_t t = type == "STRING" ? XCB_ATOM_STRING : atom(type);
  auto bytes = property(w, atom(name), t);
  if (!bytes) return std::nullopt;
  return std::string(bytes->begin(), bytes->end());
}

std::optional<std::vector<uint32_t>> Connection::cardinals(xcb_window_t w, const std::string& name,
                                                           xcb_atom_t type) {
  uint8_t format = 0;
  auto bytes = property(w, atom(name), type, &format);
  if (!bytes || format != 32) return std::nullopt;
  std::vector<uint32_t> values(bytes->size() / 4);
  std::memcpy(values.data(), bytes->data(), values.size() * 4);
  return values;
}

}  // namespace tavolu::x11
