// The polled keys: labels of the character keys on a US layout, labels of the special keys, and
// where each key sits on the window server's keyboard. Key codes are virtual key codes (the
// codes the host application knows), one per physical key position.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace tavolu {

class KeyTables {
 public:
  // The 47 character keys and their US-layout labels.
  static const std::map<uint16_t, std::string>& keyUS();
  // The 27 special keys and their labels; these are never translated through the layout.
  static const std::map<uint16_t, std::string>& keySpecial();
  // The window server's key code (X11: evdev code + 8) of a polled key; nothing for any other
  // code.
  static std::optional<uint8_t> windowKeyCode(uint16_t virtualCode);
};

}  // namespace tavolu
