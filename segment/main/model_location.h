// Where tavolu-segment finds the model files: the folder named by TAVOLU_SEGMENT_MODEL_DIR,
// else models/selfie_segmentation next to the executable, else the source tree's models folder
// the build was configured with (where scripts/setup installs them).
#pragma once

#include <string>

namespace tavolu::segment {

std::string modelDirectory();

}  // namespace tavolu::segment
