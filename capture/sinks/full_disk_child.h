// Runs test code in a forked child whose files cannot grow past a size limit, the way a full
// disk refuses writes, and brings back the text the code returned.
#pragma once

#include <functional>
#include <string>

namespace tavolu::test {

// The child ignores SIGXFSZ, so a write past `maxFileBytes` fails with EFBIG instead.
std::string runWithFileSizeLimit(long maxFileBytes, const std::function<std::string()>& body);

}  // namespace tavolu::test
