#include "capture/sinks/libav_error.h"

#include <mutex>

extern "C" {
#include <libavutil/error.h>
#include <libavutil/log.h>
}

namespace tavolu::av {

std::string errorText(int rc) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(rc, text, sizeof text);
  return text;
}

Error error(const std::string& what, int rc) {
  return Error(kErrorDomain, rc, what + ": " + errorText(rc));
}

int check(int rc, const std::string& what) {
  if (rc < 0) throw error(what, rc);
  return rc;
}

void quietLibavLogs() {
  static std::once_flag once;
  std::call_once(once, [] { av_log_set_level(AV_LOG_ERROR); });
}

}  // namespace tavolu::av
