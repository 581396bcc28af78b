#include "capture/telemetry/cursor_png.h"

#include <glib.h>
#include <png.h>

#include <cstring>
#include <memory>
#include <vector>

namespace tavolu {
namespace {
// Cursor images are small; anything larger is not a cursor and is not encoded.
constexpr int kMaxSide = 4096;

uint8_t unpremultiply(uint32_t channel, uint32_t alpha) {
  if (alpha == 0) return 0;
  uint32_t v = (channel * 255 + alpha / 2) / alpha;
  return static_cast<uint8_t>(v > 255 ? 255 : v);
}
}  // namespace

std::optional<std::string> encodeCursorPng(const CursorImage& image) {
  if (image.width <= 0 || image.height <= 0 || image.width > kMaxSide || image.height > kMaxSide ||
      image.argb.size() != static_cast<size_t>(image.width) * static_cast<size_t>(image.height))
    return std::nullopt;

  std::vector<uint8_t> rgba(image.argb.size() * 4);
  for (size_t i = 0; i < image.argb.size(); ++i) {
    uint32_t p = image.argb[i];
    uint32_t a = p >> 24;
    rgba[i * 4 + 0] = unpremultiply((p >> 16) & 0xff, a);
    rgba[i * 4 + 1] = unpremultiply((p >> 8) & 0xff, a);
    rgba[i * 4 + 2] = unpremultiply(p & 0xff, a);
    rgba[i * 4 + 3] = static_cast<uint8_t>(a);
  }

  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  png.width = static_cast<png_uint_32>(image.width);
  png.height = static_cast<png_uint_32>(image.height);
  png.format = PNG_FORMAT_RGBA;
  png_alloc_size_t size = 0;
  // First pass measures, second pass writes.
  if (!png_image_write_to_memory(&png, nullptr, &size, 0, rgba.data(), 0, nullptr) || size == 0) {
    png_image_free(&png);
    return std::nullopt;
  }
  std::string bytes(size, '\0');
  if (!png_image_write_to_memory(&png, bytes.data(), &size, 0, rgba.data(), 0, nullptr)) {
    png_image_free(&png);
    return std::nullopt;
  }
  png_image_free(&png);
  bytes.resize(size);
  return bytes;
}

std::string base64Encoded(std::string_view bytes) {
  std::unique_ptr<gchar, decltype(&g_free)> text(
      g_base64_encode(reinterpret_cast<const guchar*>(bytes.data()), bytes.size()), &g_free);
  return text ? std::string(text.get()) : std::string();
}

}  // namespace tavolu
