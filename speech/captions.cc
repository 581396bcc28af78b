#include "speech/captions.h"

#include <algorithm>
#include <nlohmann/json.hpp>

namespace tavolu::speech {

std::string captionJson(const std::vector<Segment>& segments) {
  nlohmann::json array = nlohmann::json::array();
  for (const Segment& s : segments) {
    array.push_back({{"start", s.timestamp},
                     {"end", s.timestamp + std::max(s.duration, kMinimumCaptionSeconds)},
                     {"text", s.text}});
  }
  // Replace invalid UTF-8 rather than throw: a caption must never end the run.
  return array.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace tavolu::speech
