// In-process double of Input for tests: state set by the test, reads counted so a test can wait
// for a sampler to have looked.
#pragma once

#include <chrono>
#include <condition_variable>
#include <initializer_list>
#include <map>
#include <mutex>

#include "platform/input.h"

namespace tavolu {

class FakeInput : public Input {
 public:
  enum Read { kPointer, kModifiers, kKeymap, kCursor, kLayout, kReadKinds };

  void setPointer(std::optional<PointerState> state) {
    std::lock_guard lock(mutex_);
    pointer_ = state;
  }
  void setModifiers(uint64_t flags) {
    std::lock_guard lock(mutex_);
    modifiers_ = flags;
  }
  // Keys down, by window-server key code.
  void setKeys(std::initializer_list<uint8_t> codes) {
    Keymap map;
    for (uint8_t code : codes) map.set(code);
    std::lock_guard lock(mutex_);
    keymap_ = map;
  }
  void setKeymap(std::optional<Keymap> map) {
    std::lock_guard lock(mutex_);
    keymap_ = map;
  }
  void setCursor(std::optional<CursorImage> image) {
    std::lock_guard lock(mutex_);
    cursor_ = std::move(image);
  }
  // Characters by key code; nothing means no layout data at all.
  void setLayout(std::optional<std::map<uint8_t, std::string>> characters) {
    std::lock_guard lock(mutex_);
    layout_ = std::move(characters);
  }

  uint64_t reads(Read kind) const {
    std::lock_guard lock(mutex_);
    return reads_[kind];
  }
  // Waits until `kind` has been read at least `count` times in all; false on time-out.
  bool waitForReads(Read kind, uint64_t count,
                    std::chrono::milliseconds timeout = std::chrono::seconds(10)) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return reads_[kind] >= count; });
  }
  // Waits until `kind` has been read `more` times after this call.
  bool waitForMoreReads(Read kind, uint64_t more,
                        std::chrono::milliseconds timeout = std::chrono::seconds(10)) const {
    return waitForReads(kind, reads(kind) + more, timeout);
  }

  std::optional<PointerState> pointer() override {
    std::lock_guard lock(mutex_);
    count(kPointer);
    return pointer_;
  }
  uint64_t modifiers() override {
    std::lock_guard lock(mutex_);
    count(kModifiers);
    return modifiers_;
  }
  std::optional<Keymap> keymap() override {
    std::lock_guard lock(mutex_);
    count(kKeymap);
    return keymap_;
  }
  std::optional<CursorImage> cursorImage() override {
    std::lock_guard lock(mutex_);
    count(kCursor);
    return cursor_;
  }
  std::unique_ptr<KeyboardLayout> currentLayout() override {
    std::lock_guard lock(mutex_);
    count(kLayout);
    if (!layout_) return nullptr;
    return std::make_unique<Layout>(*layout_);
  }

 private:
  class Layout : public KeyboardLayout {
   public:
    explicit Layout(std::map<uint8_t, std::string> characters)
        : characters_(std::move(characters)) {}
    std::string characterOf(uint8_t keyCode) const override {
      auto it = characters_.find(keyCode);
      return it == characters_.end() ? std::string() : it->second;
    }

   private:
    std::map<uint8_t, std::string> characters_;
  };

  void count(Read kind) {
    ++reads_[kind];
    changed_.notify_all();
  }

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  uint64_t reads_[kReadKinds] = {};
  std::optional<PointerState> pointer_ = PointerState{};
  uint64_t modifiers_ = 0;
  std::optional<Keymap> keymap_ = Keymap{};
  std::optional<CursorImage> cursor_;
  std::optional<std::map<uint8_t, std::string>> layout_;
};

}  // namespace tavolu
