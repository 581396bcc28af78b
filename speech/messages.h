// The user-facing texts of tavolu-speech, written to standard error exactly as they stand.
#pragma once

namespace tavolu::speech {

inline constexpr const char* kUsageMessage = "Choose an audio file and language.";
inline constexpr const char* kAuthorizationMessage =
    "Enable Speech Recognition for Tavolu in System Settings, then try again.";
inline constexpr const char* kOnDeviceMessage =
    "On-device speech recognition is unavailable for this language. Enable Dictation and "
    "download its language in macOS Keyboard settings, or import an SRT file.";
inline constexpr const char* kTimeoutMessage =
    "Speech recognition timed out. Try a shorter clip or another language.";

}  // namespace tavolu::speech
