// tavolu-speech <audio file> <language>: prints the recognised words as a JSON caption array.
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "speech/granted_authorizer.h"
#include "speech/model_locator.h"
#include "speech/outcome.h"
#include "speech/pocketsphinx_recognizer.h"
#include "speech/recognition_timeout.h"
#include "speech/transcription.h"

int main(int argc, char** argv) {
  using namespace tavolu::speech;
  // A host that stops reading must not turn a reported outcome into death by signal.
  std::signal(SIGPIPE, SIG_IGN);
  asio::io_context mainLoop;
  GrantedAuthorizer authorizer;
  PocketSphinxRecognizerFactory recognizers(modelRoot(std::getenv(kModelRootVariable)));
  ProcessOutcome outcome;
  Transcription transcription(mainLoop, authorizer, recognizers, outcome,
                              recognitionTimeout(std::getenv(kTimeoutVariable)));

  transcription.begin(std::vector<std::string>(argv, argv + argc));
  // The run ends only through the outcome: the loop never runs out of work.
  auto keepAlive = asio::make_work_guard(mainLoop);
  mainLoop.run();
  return 1;
}
