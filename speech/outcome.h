// How a run ends: a caption array with status 0, or one message with status 1.
#pragma once

#include <string>

namespace tavolu::speech {

class Outcome {
 public:
  virtual ~Outcome() = default;
  // Writes `json` to standard output and ends the run with status 0.
  virtual void succeed(const std::string& json) = 0;
  // Writes `message` to standard error and ends the run with status 1.
  virtual void fail(const std::string& message) = 0;
};

// Ends the process. Only the first ending counts: a second caller (the time-out racing the
// result, say) blocks until the process is gone, so output is never mixed.
class ProcessOutcome : public Outcome {
 public:
  [[noreturn]] void succeed(const std::string& json) override;
  [[noreturn]] void fail(const std::string& message) override;
};

}  // namespace tavolu::speech
