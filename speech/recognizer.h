// The speech service the program drives: authorisation, a recogniser per locale, and a running
// recognition task that delivers one final result or an error.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tavolu::speech {

// One recognised word: its text and where it lies in the audio, in seconds.
struct Segment {
  std::string text;
  double timestamp = 0;
  double duration = 0;
};

// What a recogniser hands to the result handler.
struct RecognitionResult {
  bool isFinal = false;
  std::vector<Segment> segments;  // the best transcription, in spoken order
};

// Called with a result, an error description, or both; may run on any thread.
using ResultHandler =
    std::function<void(std::optional<RecognitionResult> result, std::optional<std::string> error)>;

// Authorisation status codes, as the speech service numbers them.
enum class AuthorizationStatus { notDetermined = 0, denied = 1, restricted = 2, authorized = 3 };

class SpeechAuthorizer {
 public:
  virtual ~SpeechAuthorizer() = default;
  // Asks for permission to recognise speech; `done` may be called on any thread.
  virtual void requestAuthorization(std::function<void(AuthorizationStatus)> done) = 0;
};

class RecognitionTask {
 public:
  virtual ~RecognitionTask() = default;
  // Stops the recognition; no result is delivered after it returns.
  virtual void cancel() = 0;
};

class SpeechRecognizer {
 public:
  virtual ~SpeechRecognizer() = default;
  // Whether this recogniser works without sending audio off the machine.
  virtual bool supportsOnDeviceRecognition() const = 0;
  // Starts recognising the audio file at `path`; `handler` receives the outcome.
  virtual std::shared_ptr<RecognitionTask> recognize(const std::string& path,
                                                     ResultHandler handler) = 0;
};

class SpeechRecognizerFactory {
 public:
  virtual ~SpeechRecognizerFactory() = default;
  // The recogniser for a locale identifier such as "en-US", or null when there is none.
  virtual std::unique_ptr<SpeechRecognizer> recognizerFor(const std::string& locale) = 0;
};

}  // namespace tavolu::speech
