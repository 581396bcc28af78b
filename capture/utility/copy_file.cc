#include "capture/utility/copy_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

namespace tavolu {

std::string absolutePath(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  std::unique_ptr<char, decltype(&free)> cwd(getcwd(nullptr, 0), &free);
  std::string base = cwd ? cwd.get() : "/";
  if (base.back() != '/') base += '/';
  return base + path;
}

std::string fileUrl(const std::string& absolute, bool isDirectory) {
  static const std::string allowed =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-._~!$&'()*+,;=:@/";
  std::string url = "file://";
  for (unsigned char c : absolute) {
    if (allowed.find(static_cast<char>(c)) != std::string::npos) {
      url += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      url += hex;
    }
  }
  if (isDirectory && url.back() != '/') url += '/';
  return url;
}

bool copyFileToClipboard(const std::string& path, Clipboard& clipboard) {
  std::string absolute = absolutePath(path);
  struct stat st {};
  if (stat(absolute.c_str(), &st) != 0) return false;
  std::string url = fileUrl(absolute, S_ISDIR(st.st_mode));
  clipboard.declareTypes({Clipboard::kFileUrl, Clipboard::kFileNames, Clipboard::kString});
  return clipboard.setString(url, Clipboard::kFileUrl) &&
         clipboard.setStringList({absolute}, Clipboard::kFileNames) &&
         clipboard.setString(absolute, Clipboard::kString);
}

}  // namespace tavolu
