#include "speech/model_locator.h"

#include <algorithm>
#include <cctype>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace tavolu::speech {
namespace {

bool endsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Folder entries in name order, so the choice never depends on directory order.
std::vector<fs::path> entries(const fs::path& dir) {
  std::vector<fs::path> out;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
    out.push_back(it->path());
  std::sort(out.begin(), out.end());
  return out;
}

std::optional<ModelPaths> modelIn(const fs::path& dir) {
  ModelPaths m;
  std::error_code ec;
  for (const fs::path& p : entries(dir)) {
    const std::string name = p.filename().string();
    if (fs::is_directory(p, ec)) {
      if (m.acousticModel.empty() && fs::is_regular_file(p / "mdef", ec)) m.acousticModel = p;
      continue;
    }
    // Phonetic language models sit beside the word model and are not for captions.
    const bool phone = name.find("-phone") != std::string::npos;
    if (m.languageModel.empty() && !phone &&
        (endsWith(name, ".lm.bin") || endsWith(name, ".lm.dmp") || endsWith(name, ".lm")))
      m.languageModel = p;
    if (m.dictionary.empty() && (endsWith(name, ".dict") || endsWith(name, ".dic")))
      m.dictionary = p;
  }
  if (m.acousticModel.empty() || m.languageModel.empty() || m.dictionary.empty())
    return std::nullopt;
  return m;
}

// "en_US" -> "en-us"; empty when the identifier is not made of letters, digits, - and _.
std::string normalisedTag(const std::string& locale) {
  std::string tag;
  for (char c : locale) {
    if (c == '_' || c == '-')
      tag += '-';
    else if (std::isalnum(static_cast<unsigned char>(c)))
      tag += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    else
      return {};
  }
  if (tag.empty() || tag.front() == '-' || tag.back() == '-' || tag.find("--") != std::string::npos)
    return {};
  return tag;
}

}  // namespace

fs::path modelRoot(const char* override) {
  if (override && *override) return override;
  return kPackagedModelRoot;
}

std::optional<ModelPaths> findModel(const std::string& locale, const fs::path& root) {
  const std::string tag = normalisedTag(locale);
  if (tag.empty()) return std::nullopt;
  if (auto m = modelIn(root / tag)) return m;
  if (tag.find('-') != std::string::npos) return std::nullopt;
  // A bare language takes the first regional model of that language.
  for (const fs::path& p : entries(root)) {
    if (p.filename().string().rfind(tag + "-", 0) == 0)
      if (auto m = modelIn(p)) return m;
  }
  return std::nullopt;
}

}  // namespace tavolu::speech
