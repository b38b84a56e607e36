#include "fs/folder_root.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "testing/memory_folder_root.h"
#include "testing/temp_dir.h"

namespace velmarch {
namespace {

std::string full_path(StrView root, StrView relative) {
  FolderRoot folder(root);
  SmallString out(StrView(">"));
  folder_root_full_path(folder, relative, out);
  return std::string(out.view());
}

TEST(FolderRootFullPath, ComposesRootSeparatorAndRelativePath) {
  EXPECT_EQ(full_path("D:/in/", "x.txt"), ">D:/in//x.txt");
  EXPECT_EQ(full_path("D:/in/", ""), ">D:/in/");
  EXPECT_EQ(full_path("D:/in/", ".."), ">");
  EXPECT_EQ(full_path("D:/in/", "../x"), ">D:/in//../x");
  EXPECT_EQ(full_path("", "x.txt"), ">x.txt");
}

// Records the full paths it is asked about; the kinds come from a table.
class RecordingRoot final : public FolderRoot {
 public:
  RecordingRoot() : FolderRoot("D:/out/") {}
  bool stat(StrView full_path, PathStatus& status) override {
    stats.emplace_back(full_path);
    auto found = kinds.find(std::string(full_path));
    status = PathStatus{};
    status.kind = found != kinds.end() ? found->second : PATH_MISSING;
    return full_path != unanswerable;
  }
  bool make_directory(StrView full_path) override {
    made.emplace_back(full_path);
    kinds[std::string(full_path)] = PATH_DIRECTORY;
    return true;
  }
  std::map<std::string, PathKind> kinds;
  std::string unanswerable;
  std::vector<std::string> stats, made;
};

TEST(FolderRootMakeDirectories, EnsuresEachNonEmptyPieceOutermostFirst) {
  RecordingRoot root;
  root.kinds["D:/out///a"] = PATH_DIRECTORY;
  EXPECT_TRUE(folder_root_make_directories(&root, "/a//b/"));
  EXPECT_EQ(root.stats, (std::vector<std::string>{"D:/out///a", "D:/out///a/b"}));
  EXPECT_EQ(root.made, (std::vector<std::string>{"D:/out///a/b"}));

  root.stats.clear();
  EXPECT_TRUE(folder_root_make_directories(&root, ""));
  EXPECT_TRUE(folder_root_make_directories(&root, "//"));
  EXPECT_TRUE(root.stats.empty());
}

TEST(FolderRootMakeDirectories, StopsAtTheFirstPieceThatIsNoFolder) {
  for (PathKind blocking : {PATH_FILE, PATH_OTHER, PATH_MISSING}) {
    RecordingRoot root;
    root.kinds["D:/out///a"] = blocking;
    // A status query that cannot be answered stops it as well.
    if (blocking == PATH_MISSING) root.unanswerable = "D:/out///a";
    EXPECT_FALSE(folder_root_make_directories(&root, "a/b"));
    EXPECT_EQ(root.stats, (std::vector<std::string>{"D:/out///a"}));
    EXPECT_TRUE(root.made.empty());
  }
}

TEST(FolderRootOperations, WithoutRootAnswerFailure) {
  PathStatus status;
  DirEntryMap entries;
  EXPECT_FALSE(folder_root_stat(nullptr, "a", &status));
  EXPECT_FALSE(folder_root_list(nullptr, "a", entries));
  EXPECT_TRUE(entries.empty());
  EXPECT_FALSE(folder_root_ensure_directory(nullptr, "a"));
  EXPECT_FALSE(folder_root_make_directories(nullptr, "a"));
  EXPECT_EQ(folder_root_open(nullptr, "a", OPEN_READ), nullptr);
  EXPECT_FALSE(folder_root_remove(nullptr, "a"));
  FolderRoot base("D:/");
  EXPECT_FALSE(folder_root_stat(&base, "a", nullptr));
  EXPECT_FALSE(folder_root_stat(&base, "a", &status));
  EXPECT_FALSE(folder_root_ensure_directory(&base, "a"));
  EXPECT_EQ(folder_root_open(&base, "a", OPEN_READ), nullptr);
  EXPECT_FALSE(folder_root_remove(&base, "a"));
}

class PlatformFolderRootTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir.path().empty());
    root = folder_root_create(dir.path() + "/");
    ASSERT_NE(root, nullptr);
  }
  TempDir dir;
  std::unique_ptr<FolderRoot> root;
};

TEST_F(PlatformFolderRootTest, CreateNeedsAnExistingFolder) {
  dir.write_file("f.txt", "x");
  EXPECT_NE(folder_root_create(dir.path()), nullptr);
  EXPECT_EQ(folder_root_create(dir.at("f.txt")), nullptr);
  EXPECT_EQ(folder_root_create(dir.at("missing")), nullptr);
}

TEST_F(PlatformFolderRootTest, StatTellsKindsSizesAndIdentity) {
  dir.write_file("f.txt", "hello");
  PathStatus status;
  ASSERT_TRUE(folder_root_stat(root.get(), "f.txt", &status));
  EXPECT_EQ(status.kind, PATH_FILE);
  EXPECT_EQ(status.size, 5);
  // Windows' C runtime gives no file identity.
  if (std::string(platform_name()) == "posix") {
    EXPECT_NE(status.inode, 0u);
  }
  ASSERT_TRUE(folder_root_stat(root.get(), "", &status));
  EXPECT_EQ(status.kind, PATH_DIRECTORY);
  EXPECT_EQ(status.size, 0);
  // Missing is an answer, also below a file.
  for (const char* missing : {"nothing", "f.txt/x"}) {
    status.size = 9;
    ASSERT_TRUE(folder_root_stat(root.get(), missing, &status)) << missing;
    EXPECT_EQ(status.kind, PATH_MISSING);
    EXPECT_EQ(status.size, 0);
  }
  EXPECT_FALSE(stat_path("/" + std::string(300, 'n'), status));
}

TEST_F(PlatformFolderRootTest, ListingIsInByteOrderWithOnlyFilesAndFolders) {
  dir.write_file("a.txt", "1");
  dir.write_file("B.txt", "22");
  dir.write_file("a0", "333");
  dir.make_directory("sub");
  // Windows lists names without regard to case and has no links here; the order must be
  // bytewise all the same.
  bool links = std::string(platform_name()) == "posix";
  if (links) {
    std::filesystem::create_symlink(dir.at("gone"), dir.at("broken"));
    std::filesystem::create_symlink(dir.at("a.txt"), dir.at("link"));
  }
  DirEntryMap entries;
  EXPECT_TRUE(folder_root_list(root.get(), "", entries));
  std::vector<std::string> names;
  for (const auto& [name, status] : entries) names.emplace_back(name.view());
  if (links) {
    EXPECT_EQ(names, (std::vector<std::string>{"B.txt", "a.txt", "a0", "link", "sub"}));
    EXPECT_EQ(entries.at(SmallString(StrView("link"))).kind, PATH_FILE);
  } else {
    EXPECT_EQ(names, (std::vector<std::string>{"B.txt", "a.txt", "a0", "sub"}));
  }
  EXPECT_EQ(entries.at(SmallString(StrView("B.txt"))).size, 2);
  EXPECT_EQ(entries.at(SmallString(StrView("a0"))).kind, PATH_FILE);
  EXPECT_EQ(entries.at(SmallString(StrView("a0"))).size, 3);
  EXPECT_EQ(entries.at(SmallString(StrView("sub"))).kind, PATH_DIRECTORY);
  EXPECT_EQ(entries.at(SmallString(StrView("sub"))).size, 0);

  DirEntryMap none;
  // What cannot be enumerated says so, and lists nothing.
  EXPECT_FALSE(folder_root_list(root.get(), "missing", none));
  EXPECT_FALSE(folder_root_list(root.get(), "a.txt", none));
  EXPECT_TRUE(none.empty());
}

TEST_F(PlatformFolderRootTest, DirectoriesAreMadeAndKept) {
  dir.write_file("f", "x");
  EXPECT_TRUE(folder_root_make_directories(root.get(), "/a//b/"));
  EXPECT_TRUE(std::filesystem::is_directory(dir.at("a/b")));
  EXPECT_TRUE(folder_root_ensure_directory(root.get(), "a"));
  EXPECT_FALSE(folder_root_ensure_directory(root.get(), "f"));
  EXPECT_FALSE(folder_root_make_directories(root.get(), "f/c"));
  EXPECT_FALSE(std::filesystem::exists(dir.at("f/c")));
}

TEST_F(PlatformFolderRootTest, OpenChoosesTheModeFromTheLowTwoBits) {
  EXPECT_EQ(folder_root_open(root.get(), "new", 0), nullptr);
  EXPECT_EQ(folder_root_open(root.get(), "new", OPEN_SHARED), nullptr);
  EXPECT_FALSE(std::filesystem::exists(dir.at("new")));

  auto out = folder_root_open(root.get(), "new", OPEN_WRITE | OPEN_SHARED);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(byte_stream_write(*out, "abc", 3), 3);
  EXPECT_EQ(byte_stream_read(*out, nullptr, 0), -2);
  EXPECT_EQ(byte_stream_close(out), 0);

  auto both = folder_root_open(root.get(), "new", OPEN_READ | OPEN_WRITE | OPEN_SHARED);
  ASSERT_NE(both, nullptr);
  char bytes[4] = {};
  EXPECT_EQ(byte_stream_read(*both, bytes, 1), 1);
  EXPECT_EQ(byte_stream_seek(*both, 0, SEEK_END), 3);
  EXPECT_EQ(byte_stream_write(*both, "d", 1), 1);
  EXPECT_EQ(byte_stream_close(both), 0);

  auto in = folder_root_open(root.get(), "new", OPEN_READ | OPEN_SHARED);
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(byte_stream_read(*in, bytes, 4), 4);
  EXPECT_EQ(std::string(bytes, 4), "abcd");
  EXPECT_EQ(byte_stream_write(*in, "x", 1), -2);
  EXPECT_EQ(folder_root_open(root.get(), "missing", OPEN_READ | OPEN_WRITE | OPEN_SHARED), nullptr);

  in.reset();  // Windows removes no open file
  EXPECT_TRUE(folder_root_remove(root.get(), "new"));
  EXPECT_FALSE(folder_root_remove(root.get(), "new"));
}

TEST(MemoryFolderRoot, BehavesLikeTheDiskWhereLaterTestsRelyOnIt) {
  MemoryFolderRoot root("/mem/");
  root.add_file("in/a.txt", "abc");
  // Folders are made one level at a time, and only where nothing is.
  EXPECT_FALSE(folder_root_ensure_directory(&root, "x/y"));
  EXPECT_TRUE(folder_root_make_directories(&root, "x/y"));
  EXPECT_FALSE(root.make_directory("/mem/x"));
  EXPECT_EQ(root.directories_made, (std::vector<std::string>{"x", "x/y"}));
  PathStatus status;
  ASSERT_TRUE(root.stat("/memory/in", status));
  EXPECT_EQ(status.kind, PATH_MISSING);

  // Writing needs the folder; reading and read-write need the file.
  EXPECT_EQ(folder_root_open(&root, "nowhere/a.trc", OPEN_WRITE | OPEN_SHARED), nullptr);
  EXPECT_EQ(folder_root_open(&root, "in/b.txt", OPEN_READ | OPEN_WRITE | OPEN_SHARED), nullptr);
  EXPECT_EQ(folder_root_open(&root, "in", 5), nullptr);

  // A file removed while its stream is held stays removed, and a failed close ends the stream.
  root.fail_close.insert("x/a.trc");
  auto out = folder_root_open(&root, "x/a.trc", 6);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(byte_stream_write(*out, "hi", 2), 2);
  EXPECT_EQ(root.file("x/a.trc"), "hi");
  EXPECT_NE(byte_stream_close(out), 0);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(byte_stream_write(*out, "!", 1), -1);
  EXPECT_TRUE(folder_root_remove(&root, "x/a.trc"));
  out.reset();
  EXPECT_FALSE(root.has_file("x/a.trc"));
  EXPECT_EQ(root.closes, 1);
}

}  // namespace
}  // namespace velmarch
