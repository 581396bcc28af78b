#include "capture/telemetry/key_sampler.h"

#include "capture/telemetry/key_tables.h"

namespace tavolu {
namespace {
bool isDown(const Keymap& map, const std::optional<uint8_t>& windowCode) {
  return windowCode && map.test(*windowCode);
}
}  // namespace

void KeySampler::start(const std::map<uint16_t, std::string>& labels,
                       const std::optional<Keymap>& now) {
  keys_.clear();
  for (const auto& [code, label] : labels)
    keys_.push_back({code, KeyTables::windowKeyCode(code), label});
  down_.assign(keys_.size(), 0);
  if (!now) return;
  for (size_t i = 0; i < keys_.size(); ++i) down_[i] = isDown(*now, keys_[i].windowCode);
}

void KeySampler::reset() {
  keys_.clear();
  down_.clear();
}

std::vector<uint16_t> KeySampler::poll(const Keymap& now) {
  std::vector<uint16_t> pressed;
  for (size_t i = 0; i < keys_.size(); ++i) {
    bool down = isDown(now, keys_[i].windowCode);
    if (down && !down_[i]) pressed.push_back(keys_[i].code);
    down_[i] = down;
  }
  return pressed;
}

std::optional<std::vector<std::string>> KeySampler::keysFor(uint16_t code,
                                                            uint64_t modifiers) const {
  if (!(modifiers & (kModifierCommand | kModifierControl))) return std::nullopt;
  std::vector<std::string> keys;
  if (modifiers & kModifierControl) keys.emplace_back("⌃");
  if (modifiers & kModifierOption) keys.emplace_back("⌥");
  if (modifiers & kModifierShift) keys.emplace_back("⇧");
  if (modifiers & kModifierCommand) keys.emplace_back("⌘");
  std::string label = "?";
  for (const Key& key : keys_)
    if (key.code == code) label = key.label;
  keys.push_back(std::move(label));
  return keys;
}

}  // namespace tavolu
