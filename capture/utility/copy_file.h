// Copy-file mode: puts a file on the clipboard as a file URL, a file-name list and a path.
#pragma once

#include <string>

#include "platform/clipboard.h"

namespace tavolu {

// The absolute path of `path` (relative paths are taken from the current directory).
std::string absolutePath(const std::string& path);
// The file URL of an absolute path, percent-encoded; a directory's URL ends in "/".
std::string fileUrl(const std::string& absolute, bool isDirectory);

// Writes the three representations in order, stopping at the first that fails; false when the
// file does not exist or a write failed.
bool copyFileToClipboard(const std::string& path, Clipboard& clipboard);

}  // namespace tavolu
