// PNG encoding of cursor images.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/input.h"

namespace tavolu {

// The image as an 8-bit RGBA PNG (straight alpha); nothing when the image is empty, its pixel
// count does not match its size, or encoding fails.
std::optional<std::string> encodeCursorPng(const CursorImage& image);

// Standard Base64 with padding and no line breaks.
std::string base64Encoded(std::string_view bytes);

}  // namespace tavolu
