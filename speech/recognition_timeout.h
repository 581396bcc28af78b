// How long a recognition may run before it is cancelled.
#pragma once

#include <chrono>

namespace tavolu::speech {

inline constexpr std::chrono::seconds kRecognitionTimeout{120};

// The environment variable that shortens the time-out for tests, in seconds ("0.5").
inline constexpr const char* kTimeoutVariable = "TAVOLU_SPEECH_TIMEOUT_SECONDS";

// The time-out to use: `override` when it is a finite number of seconds >= 0 (from the
// variable above), else 120 s.
std::chrono::steady_clock::duration recognitionTimeout(const char* override);

}  // namespace tavolu::speech
