// The command channel: JSON lines on standard input, each run as a task of its own.
#pragma once

#include <asio/thread_pool.hpp>
#include <functional>

#include "capture/session/recorder.h"

namespace tavolu {

class CommandChannel {
 public:
  CommandChannel(Recorder& recorder, asio::thread_pool& tasks, std::function<void(int)> exit)
      : recorder_(recorder), tasks_(tasks), exit_(std::move(exit)) {}

  // Reads command lines from `fd` until end of input; every JSON object starts a task, other
  // lines are ignored. At end of input starts finishInput and returns.
  void readCommands(int fd);
  // Carries out one command: "start" or "stop"; anything else does nothing.
  void runCommand(const Json& command);
  // End of input: stops a running recording, then ends the process with status 0.
  void finishInput();

 private:
  void dispatch(const std::string& line);

  Recorder& recorder_;
  asio::thread_pool& tasks_;
  std::function<void(int)> exit_;
};

}  // namespace tavolu
