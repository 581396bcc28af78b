// Finds the installed PocketSphinx model of a locale.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace tavolu::speech {

// Where the packaged models live: one folder per language tag, e.g. en-us/.
inline constexpr const char* kPackagedModelRoot = "/usr/share/pocketsphinx/model";
// Points at another folder of the same layout (for models of other languages).
inline constexpr const char* kModelRootVariable = "TAVOLU_SPEECH_MODELS";

struct ModelPaths {
  std::filesystem::path acousticModel;  // the folder holding mdef, means, ...
  std::filesystem::path languageModel;  // *.lm.bin, *.lm.dmp or *.lm
  std::filesystem::path dictionary;     // *.dict or *.dic
};

// The model root to search: `override` (the variable above) when set, else the packaged one.
std::filesystem::path modelRoot(const char* override);

// The model for a locale identifier ("en-US", "en_US", "en"): the folder named by the whole
// tag (lower case, "-" between parts), or for a bare language the folder of that language or
// its first regional folder. A locale with another region (en-GB) has no model unless one is
// installed for it. Nothing when no complete model is there.
std::optional<ModelPaths> findModel(const std::string& locale, const std::filesystem::path& root);

}  // namespace tavolu::speech
