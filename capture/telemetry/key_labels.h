// The labels shown for the polled keys: the current layout's characters for the character
// keys, fixed labels for the special keys.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "platform/input.h"

namespace tavolu {

// Labels of all polled keys by virtual key code. A character key gets the character its key
// types without modifiers in `layout`, trimmed of white space and fully upper-cased; it keeps
// its US label when there is no layout, the key types nothing (or only white space), or the
// layout's text is not valid UTF-8. Special keys always keep their fixed labels.
std::map<uint16_t, std::string> keyLabelsFor(const KeyboardLayout* layout);

// Full Unicode upper-casing of UTF-8 text ("ß" becomes "SS"); invalid UTF-8 gives "".
std::string upperCased(std::string_view utf8);

// The text without leading and trailing white space and line breaks; invalid UTF-8 gives "".
std::string trimmed(std::string_view utf8);

}  // namespace tavolu
