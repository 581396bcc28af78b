#include "segment/main/arguments.h"

namespace tavolu::segment {

std::optional<Arguments> parseArguments(int argc, const char* const* argv) {
  if (argc != 3) return std::nullopt;
  return Arguments{argv[1], argv[2]};
}

}  // namespace tavolu::segment
