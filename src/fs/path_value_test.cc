#include "fs/path_value.h"

#include <gtest/gtest.h>

#include <string>

#include "testing/temp_dir.h"

namespace velmarch {
namespace {

std::string replace(StrView text, StrView pattern, StrView replacement, int32_t budget) {
  return std::string(string_replace(text, pattern, replacement, budget).view());
}

TEST(StringReplace, SpendsTheBudgetLeftToRight) {
  EXPECT_EQ(replace("aXbXc", "X", "", 1), "abXc");
  EXPECT_EQ(replace("aXbXc", "X", "", 0), "abc");
  EXPECT_EQ(replace("aXbXc", "", "Y", 0), "aXbXc");
  EXPECT_EQ(replace("a////b", "//", "/", 0), "a//b");
  EXPECT_EQ(replace("a\\b\\", "\\", "/", 0), "a/b/");
  EXPECT_EQ(replace("", "X", "Y", 0), "");
}

TEST(PathViews, CutAtTheLastSeparatorAndDot) {
  EXPECT_EQ(path_file_name("D:/a/b.txt"), "b.txt");
  EXPECT_EQ(path_file_name("D:/a/"), "");
  EXPECT_NE(path_file_name("D:/a/").data(), nullptr);
  EXPECT_EQ(path_file_name("b.txt"), "b.txt");
  EXPECT_EQ(path_extension("D:/a/b.TXT"), "TXT");
  EXPECT_EQ(path_extension("D:/a/b.tar.txt"), "txt");
  EXPECT_EQ(path_extension("D:/a/txt"), "txt");
  EXPECT_EQ(path_extension("D:/a.d/b."), "");
  EXPECT_EQ(path_extension("D:/a.d/"), "");
  EXPECT_EQ(path_directory_part("/x/y.txt"), "/x/");
  EXPECT_EQ(path_directory_part("y.txt"), "");
  EXPECT_NE(path_directory_part("y.txt").data(), nullptr);
  EXPECT_EQ(path_directory_part("/x/"), "/x/");
}

std::string normalized(const std::string& text) {
  PathValue path{StrView(text)};
  path_normalize(path);
  return std::string(path.view());
}

// Works inside a fresh current directory that holds data/logs/a.txt.
class PathNormalize : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir.path().empty());
    dir.make_directory("data");
    dir.make_directory("data/logs");
    dir.write_file("data/logs/a.txt", "x");
    PathValue here;
    ASSERT_TRUE(current_directory(here));
    cwd = std::string(here.view());
    ASSERT_NE(cwd.back(), '/');
  }
  TempDir dir;
  ScopedCurrentDirectory inside{dir.path()};
  std::string cwd;
};

TEST_F(PathNormalize, RelativePathsGoUnderTheCurrentDirectory) {
  EXPECT_EQ(normalized("data\\logs\\a.txt"), cwd + "/data/logs/a.txt");
  EXPECT_EQ(normalized("data/logs/a.txt/"), cwd + "/data/logs/a.txt/");  // no such folder
  EXPECT_EQ(normalized("a///b"), cwd + "/a//b");
  EXPECT_EQ(normalized("a////b"), cwd + "/a//b");
  std::string beside = "../" + std::string(path_file_name(cwd)) + "-missing";
  EXPECT_EQ(normalized(beside), cwd + "/" + beside);
  EXPECT_EQ(normalized("./data"), cwd + "/./data/");
  EXPECT_EQ(normalized(""), cwd + "/");
}

TEST_F(PathNormalize, DotsAtTheEndNameTheFolderTheyLeadTo) {
  std::string parent(path_directory_part(cwd));
  EXPECT_EQ(normalized("."), cwd + "/");
  EXPECT_EQ(normalized(".."), parent);
  EXPECT_EQ(normalized("data/logs/."), cwd + "/data/logs/");
  EXPECT_EQ(normalized("data/logs/.."), cwd + "/data/");
  EXPECT_EQ(normalized("data/logs/../..//"), cwd + "/");
  EXPECT_EQ(normalized("data/./.."), cwd + "/");
  EXPECT_EQ(normalized(cwd + "/data/logs/.."), cwd + "/data/");
  EXPECT_EQ(normalized("/.."), "/");
  // Dots inside the path stay as written, and so do the ups behind them.
  EXPECT_EQ(normalized("../x/../.."), cwd + "/../../");
  EXPECT_EQ(normalized("./data/logs/."), cwd + "/./data/logs/");
  EXPECT_EQ(normalized("data/.x"), cwd + "/data/.x");
}

TEST_F(PathNormalize, FoldersEndInOneSeparatorAndMissingPathsStay) {
  EXPECT_EQ(normalized(cwd + "\\data\\"), cwd + "/data/");
  EXPECT_EQ(normalized(cwd + "/data"), cwd + "/data/");
  EXPECT_EQ(normalized(cwd + "//data///logs"), cwd + "/data//logs/");
  EXPECT_EQ(normalized("/"), "/");
  EXPECT_EQ(normalized(cwd + "/missing.txt"), cwd + "/missing.txt");
}

TEST_F(PathNormalize, DriveLettersFollowTheByteRules) {
  // Absolute by their bytes, so no current directory is put in front; they do not exist here.
  EXPECT_EQ(normalized("D:"), "D:/");
  EXPECT_EQ(normalized("d:"), "d:/");
  EXPECT_EQ(normalized("D:\\data\\"), "D:/data/");
  EXPECT_EQ(normalized("D:x"), "D:x");
  EXPECT_EQ(normalized("\\\\server\\share\\x"), "/server/share/x");
  EXPECT_EQ(normalized("1:"), cwd + "/1:");
}

TEST_F(PathNormalize, StatusFailureIsReportedAndLeavesThePath) {
  std::string too_long = cwd + "/" + std::string(300, 'n') + "/";
  testing::internal::CaptureStderr();
  EXPECT_EQ(normalized(too_long), too_long);
  std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find(" E Could not stat path " + too_long + "\n"), std::string::npos) << log;
}

}  // namespace
}  // namespace velmarch
