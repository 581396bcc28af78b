// Speech authorisation on Linux: recognition runs on the machine and needs no permission, so
// the answer is always "authorised", given right away.
#pragma once

#include "speech/recognizer.h"

namespace tavolu::speech {

class GrantedAuthorizer : public SpeechAuthorizer {
 public:
  // Answers at once with the authorised status.
  void requestAuthorization(std::function<void(AuthorizationStatus)> done) override {
    done(AuthorizationStatus::authorized);
  }
};

}  // namespace tavolu::speech
