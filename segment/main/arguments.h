// The command line: `tavolu-segment <input> <output>`, exactly two arguments.
#pragma once

#include <optional>
#include <string>

namespace tavolu::segment {

struct Arguments {
  std::string input, output;
};

// The two paths, or nothing when the argument count is not exactly two.
std::optional<Arguments> parseArguments(int argc, const char* const* argv);

}  // namespace tavolu::segment
