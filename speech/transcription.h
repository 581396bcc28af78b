// The program's flow: argument check, authorisation, the start step and the time-out on the
// main loop, and the result handler that prints the captions.
#pragma once

#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "speech/outcome.h"
#include "speech/recognizer.h"

namespace tavolu::speech {

class Transcription {
 public:
  Transcription(asio::io_context& mainLoop, SpeechAuthorizer& authorizer,
                SpeechRecognizerFactory& recognizers, Outcome& outcome,
                std::chrono::steady_clock::duration timeout);

  // Program entry: keeps the arguments, checks their count and asks for authorisation. The
  // caller then runs the main loop.
  void begin(std::vector<std::string> args);
  // Start step, on the main loop: checks the status and the locale, starts recognition and
  // arms the time-out.
  void start(AuthorizationStatus status);
  // Receives the recogniser's outcome on whatever thread delivers it.
  void handleResult(const std::optional<RecognitionResult>& result,
                    const std::optional<std::string>& error);
  // On the main loop when the time-out expires: cancels the task and fails.
  void timeOut();

 private:
  asio::io_context& mainLoop_;
  SpeechAuthorizer& authorizer_;
  SpeechRecognizerFactory& recognizers_;
  Outcome& outcome_;
  std::chrono::steady_clock::duration timeout_;
  std::vector<std::string> args_;
  std::unique_ptr<SpeechRecognizer> recognizer_;
  std::shared_ptr<RecognitionTask> task_;  // none until recognition starts
  asio::steady_timer timer_;
};

}  // namespace tavolu::speech
