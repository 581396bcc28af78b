#include "capture/telemetry/key_labels.h"

#include <glib.h>

#include <memory>

#include "capture/telemetry/key_tables.h"

namespace tavolu {

std::string upperCased(std::string_view utf8) {
  if (!g_utf8_validate(utf8.data(), static_cast<gssize>(utf8.size()), nullptr)) return {};
  std::unique_ptr<gchar, decltype(&g_free)> upper(
      g_utf8_strup(utf8.data(), static_cast<gssize>(utf8.size())), &g_free);
  return upper ? std::string(upper.get()) : std::string();
}

std::string trimmed(std::string_view utf8) {
  const char* begin = utf8.data();
  const char* end = begin + utf8.size();
  if (!g_utf8_validate(begin, static_cast<gssize>(utf8.size()), nullptr)) return {};
  while (begin < end && g_unichar_isspace(g_utf8_get_char(begin))) begin = g_utf8_next_char(begin);
  while (end > begin) {
    const char* last = g_utf8_find_prev_char(begin, end);
    if (!last || !g_unichar_isspace(g_utf8_get_char(last))) break;
    end = last;
  }
  return std::string(begin, end);
}

std::map<uint16_t, std::string> keyLabelsFor(const KeyboardLayout* layout) {
  std::map<uint16_t, std::string> labels = KeyTables::keySpecial();
  for (const auto& [code, usLabel] : KeyTables::keyUS()) {
    std::string label = usLabel;
    auto keyCode = KeyTables::windowKeyCode(code);
    if (layout && keyCode) {
      std::string translated = upperCased(trimmed(layout->characterOf(*keyCode)));
      if (!translated.empty()) label = std::move(translated);
    }
    labels[code] = std::move(label);
  }
  return labels;
}

}  // namespace tavolu
