#include "speech/transcription.h"

#include <asio/post.hpp>

#include "speech/captions.h"
#include "speech/messages.h"

namespace tavolu::speech {

Transcription::Transcription(asio::io_context& mainLoop, SpeechAuthorizer& authorizer,
                             SpeechRecognizerFactory& recognizers, Outcome& outcome,
                             std::chrono::steady_clock::duration timeout)
    : mainLoop_(mainLoop),
      authorizer_(authorizer),
      recognizers_(recognizers),
      outcome_(outcome),
      timeout_(timeout),
      timer_(mainLoop) {}

void Transcription::begin(std::vector<std::string> args) {
  task_.reset();
  args_ = std::move(args);
  if (args_.size() < 3) return outcome_.fail(kUsageMessage);
  // The handler may come from any thread; it only hands the status to the main loop.
  authorizer_.requestAuthorization([this](AuthorizationStatus status) {
    asio::post(mainLoop_, [this, status] { start(status); });
  });
}

void Transcription::start(AuthorizationStatus status) {
  if (status != AuthorizationStatus::authorized) return outcome_.fail(kAuthorizationMessage);
  recognizer_ = recognizers_.recognizerFor(args_[2]);
  if (!recognizer_ || !recognizer_->supportsOnDeviceRecognition())
    return outcome_.fail(kOnDeviceMessage);
  task_ = recognizer_->recognize(
      args_[1], [this](std::optional<RecognitionResult> result, std::optional<std::string> error) {
        handleResult(result, error);
      });
  timer_.expires_after(timeout_);
  timer_.async_wait([this](const std::error_code& ec) {
    if (!ec) timeOut();
  });
}

void Transcription::handleResult(const std::optional<RecognitionResult>& result,
                                 const std::optional<std::string>& error) {
  // A final result wins even when an error comes with it.
  if (result && result->isFinal) return outcome_.succeed(captionJson(result->segments));
  if (error) return outcome_.fail(*error);
  // A partial result without an error: keep waiting.
}

void Transcription::timeOut() {
  if (task_) task_->cancel();
  outcome_.fail(kTimeoutMessage);
}

}  // namespace tavolu::speech
