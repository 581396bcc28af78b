#include "segment/main/model_location.h"

#include <cstdlib>
#include <filesystem>

namespace tavolu::segment {

std::string modelDirectory() {
  if (const char* dir = std::getenv("TAVOLU_SEGMENT_MODEL_DIR"); dir && *dir) return dir;
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    const auto beside = exe.parent_path() / "models" / "selfie_segmentation";
    if (std::filesystem::is_directory(beside, ec)) return beside.string();
  }
  return TAVOLU_SEGMENT_DEFAULT_MODEL_DIR;
}

}  // namespace tavolu::segment
