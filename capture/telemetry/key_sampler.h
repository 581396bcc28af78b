// New-press detection over the polled keys, and what a press shows: a shortcut is spelled out
// with its modifiers and label, anything else stays anonymous.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/input.h"

namespace tavolu {

class KeySampler {
 public:
  // Polls the keys named in `labels` from now on, shown with those labels; keys down in `now`
  // count as already seen, so a key held at start is reported only once pressed again.
  void start(const std::map<uint16_t, std::string>& labels, const std::optional<Keymap>& now);
  // Polls nothing and forgets every key seen.
  void reset();
  // Virtual codes of the polled keys that went down since the previous poll, in ascending
  // order; remembers `now` (releases too). Allocates nothing when no key went down.
  std::vector<uint16_t> poll(const Keymap& now);
  // The "keys" list of a press with these modifier flags: the held modifiers' symbols (Control,
  // Option, Shift, Command) and the key's label ("?" when it has none); nothing when neither
  // Command nor Control is held, so plain typing never becomes text.
  std::optional<std::vector<std::string>> keysFor(uint16_t code, uint64_t modifiers) const;

 private:
  struct Key {
    uint16_t code;
    std::optional<uint8_t> windowCode;
    std::string label;
  };
  std::vector<Key> keys_;   // ascending virtual code
  std::vector<char> down_;  // by index into keys_
};

}  // namespace tavolu
