// What the command channel and the process entry ask of the recording session.
#pragma once

#include "capture/main/event_channel.h"
#include "platform/error.h"

namespace tavolu {

class Recorder {
 public:
  virtual ~Recorder() = default;
  // Sets up and starts a recording from a start command; throws Error.
  virtual void start(const Json& command) = 0;
  // Stops the recording and finishes its files; only the first call does anything.
  virtual void stop() = 0;
  // Reports an error as the one "error" event and ends the process with status 1.
  virtual void fail(const Error& error) = 0;
  // Returns once a stop that has begun has finished.
  virtual void waitForStop() = 0;
  // No unfinished screen recording exists.
  virtual bool screenDone() const = 0;
  // The current recording has a screen stream.
  virtual bool hasStream() const = 0;
};

}  // namespace tavolu
