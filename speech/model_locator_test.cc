#include "speech/model_locator.h"

#include <gtest/gtest.h>

#include <fstream>

namespace fs = std::filesystem;

namespace tavolu::speech {
namespace {

// A model root with the packaged layout: <root>/<tag>/{<tag>/mdef, <tag>.lm.bin, x.dict}.
class ModelRoot {
 public:
  ModelRoot() : root_(fs::temp_directory_path() / ("tavolu-models-" + std::to_string(getpid()))) {
    fs::remove_all(root_);
  }
  ~ModelRoot() { fs::remove_all(root_); }
  void add(const std::string& tag, bool complete = true) {
    fs::create_directories(root_ / tag / tag);
    touch(root_ / tag / tag / "mdef");
    touch(root_ / tag / (tag + "-phone.lm.bin"));
    touch(root_ / tag / (tag + ".lm.bin"));
    if (complete) touch(root_ / tag / ("cmudict-" + tag + ".dict"));
  }
  const fs::path& path() const { return root_; }

 private:
  static void touch(const fs::path& p) { std::ofstream(p) << "x"; }
  fs::path root_;
};

TEST(FindModel, LocaleSpellingsSelectTheModelOfTheirLanguage) {
  ModelRoot root;
  root.add("en-us");
  root.add("de");
  root.add("fr-fr", /*complete=*/false);
  struct Case {
    const char* locale;
    const char* folder;  // nullptr: no model
  } cases[] = {
      {"en-US", "en-us"}, {"en_US", "en-us"}, {"en", "en-us"},       {"EN-us", "en-us"},
      {"de", "de"},       {"de-DE", nullptr}, {"en-GB", nullptr},    {"fr-FR", nullptr},
      {"fr", nullptr},    {"", nullptr},      {"../en-us", nullptr}, {"en-us/..", nullptr},
      {"-", nullptr},     {"e", nullptr},
  };
  for (const Case& c : cases) {
    auto m = findModel(c.locale, root.path());
    if (!c.folder) {
      EXPECT_FALSE(m) << c.locale;
      continue;
    }
    ASSERT_TRUE(m) << c.locale;
    EXPECT_EQ(m->acousticModel.parent_path(), root.path() / c.folder) << c.locale;
    EXPECT_EQ(m->languageModel.filename().string().find("-phone"), std::string::npos);
    EXPECT_EQ(m->dictionary.extension(), ".dict");
  }
}

TEST(FindModel, ThePackagedUsEnglishModelIsFound) {
  auto m = findModel("en-US", modelRoot(nullptr));
  ASSERT_TRUE(m);
  EXPECT_EQ(m->acousticModel, fs::path(kPackagedModelRoot) / "en-us/en-us");
  EXPECT_EQ(m->languageModel, fs::path(kPackagedModelRoot) / "en-us/en-us.lm.bin");
  EXPECT_EQ(m->dictionary, fs::path(kPackagedModelRoot) / "en-us/cmudict-en-us.dict");
}

TEST(ModelRoot, VariableOverridesThePackagedFolder) {
  EXPECT_EQ(modelRoot(nullptr), kPackagedModelRoot);
  EXPECT_EQ(modelRoot(""), kPackagedModelRoot);
  EXPECT_EQ(modelRoot("/opt/models"), "/opt/models");
}

}  // namespace
}  // namespace tavolu::speech
