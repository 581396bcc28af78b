#include "capture/utility/copy_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace tavolu {
namespace {

// Records the writes; can be told to refuse the n-th one.
class RecordingClipboard : public Clipboard {
 public:
  int failAt = -1;
  std::vector<std::string> types;
  std::vector<std::pair<std::string, std::vector<std::string>>> writes;

  void declareTypes(const std::vector<std::string>& t) override { types = t; }
  bool setString(const std::string& v, const std::string& type) override {
    return record(type, {v});
  }
  bool setStringList(const std::vector<std::string>& v, const std::string& type) override {
    return record(type, v);
  }

 private:
  bool record(const std::string& type, std::vector<std::string> v) {
    if (static_cast<int>(writes.size()) == failAt) return false;
    writes.emplace_back(type, std::move(v));
    return true;
  }
};

TEST(FileUrl, PercentEncodesWhatAPathMayNotHold) {
  EXPECT_EQ(fileUrl("/tmp/a b/ü#1.mp4", false), "file:///tmp/a%20b/%C3%BC%231.mp4");
  EXPECT_EQ(fileUrl("/tmp/dir", true), "file:///tmp/dir/");
  EXPECT_EQ(fileUrl("/", true), "file:///");
}

TEST(CopyFile, WritesUrlNamesAndPathInOrder) {
  auto dir = std::filesystem::temp_directory_path() / ("copy-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "clip 1.mp4") << "x";
  std::filesystem::current_path(dir);

  RecordingClipboard cb;
  ASSERT_TRUE(copyFileToClipboard("clip 1.mp4", cb));
  std::string abs = (dir / "clip 1.mp4").string();
  EXPECT_EQ(cb.types, (std::vector<std::string>{Clipboard::kFileUrl, Clipboard::kFileNames,
                                                Clipboard::kString}));
  ASSERT_EQ(cb.writes.size(), 3u);
  EXPECT_EQ(cb.writes[0].second[0], "file://" + dir.string() + "/clip%201.mp4");
  EXPECT_EQ(cb.writes[1].second, std::vector<std::string>{abs});
  EXPECT_EQ(cb.writes[2].second[0], abs);

  RecordingClipboard dirCb;  // a directory counts as existing
  EXPECT_TRUE(copyFileToClipboard(dir.string(), dirCb));

  RecordingClipboard failing;
  failing.failAt = 1;
  EXPECT_FALSE(copyFileToClipboard(abs, failing));
  EXPECT_EQ(failing.writes.size(), 1u);  // later writes are not attempted

  RecordingClipboard missing;
  EXPECT_FALSE(copyFileToClipboard("no such file", missing));
  EXPECT_TRUE(missing.types.empty());  // the clipboard is left alone
  std::filesystem::current_path("/");
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tavolu
