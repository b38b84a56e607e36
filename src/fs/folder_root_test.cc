#include "fs/folder_root.h"

#include <gtest/gtest.h>

#include <cerrno>
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
  Result<PathStatus> stat(StrView full_path) override {
    stats.emplace_back(full_path);
    auto found = kinds.find(std::string(full_path));
    PathStatus status;
    status.kind = found != kinds.end() ? found->second : PATH_MISSING;
    if (full_path == unanswerable) return Status::failure();
    return status;
  }
  Status make_directory(StrView full_path) override {
    made.emplace_back(full_path);
    kinds[std::string(full_path)] = PATH_DIRECTORY;
    return Status();
  }
  std::map<std::string, PathKind> kinds;
  std::string unanswerable;
  std::vector<std::string> stats, made;
};

TEST(FolderRootMakeDirectories, EnsuresEachNonEmptyPieceOutermostFirst) {
  RecordingRoot root;
  root.kinds["D:/out///a"] = PATH_DIRECTORY;
  EXPECT_TRUE(folder_root_make_directories(&root, "/a//b/").ok());
  EXPECT_EQ(root.stats, (std::vector<std::string>{"D:/out///a", "D:/out///a/b"}));
  EXPECT_EQ(root.made, (std::vector<std::string>{"D:/out///a/b"}));

  root.stats.clear();
  EXPECT_TRUE(folder_root_make_directories(&root, "").ok());
  EXPECT_TRUE(folder_root_make_directories(&root, "//").ok());
  EXPECT_TRUE(root.stats.empty());
}

TEST(FolderRootMakeDirectories, StopsAtTheFirstPieceThatIsNoFolder) {
  for (PathKind blocking : {PATH_FILE, PATH_OTHER, PATH_MISSING}) {
    RecordingRoot root;
    root.kinds["D:/out///a"] = blocking;
    // A status query that cannot be answered stops it as well.
    if (blocking == PATH_MISSING) root.unanswerable = "D:/out///a";
    EXPECT_FALSE(folder_root_make_directories(&root, "a/b").ok());
    EXPECT_EQ(root.stats, (std::vector<std::string>{"D:/out///a"}));
    EXPECT_TRUE(root.made.empty());
  }
}

TEST(FolderRootOperations, WithoutRootAnswerFailure) {
  DirEntryMap entries;
  EXPECT_FALSE(folder_root_stat(nullptr, "a").ok());
  EXPECT_FALSE(folder_root_list(nullptr, "a", entries).ok());
  EXPECT_TRUE(entries.empty());
  EXPECT_FALSE(folder_root_ensure_directory(nullptr, "a").ok());
  EXPECT_FALSE(folder_root_make_directories(nullptr, "a").ok());
  EXPECT_FALSE(folder_root_open(nullptr, "a", OPEN_READ).ok());
  EXPECT_FALSE(folder_root_remove(nullptr, "a").ok());
  FolderRoot base("D:/");
  EXPECT_FALSE(folder_root_stat(&base, "a").ok());
  EXPECT_FALSE(folder_root_ensure_directory(&base, "a").ok());
  EXPECT_FALSE(folder_root_open(&base, "a", OPEN_READ).ok());
  EXPECT_FALSE(folder_root_remove(&base, "a").ok());
}

class PlatformFolderRootTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir.path().empty());
    root = folder_root_create(dir.path() + "/").value();
    ASSERT_NE(root, nullptr);
  }
  TempDir dir;
  std::unique_ptr<FolderRoot> root;
};

TEST_F(PlatformFolderRootTest, CreateNeedsAnExistingFolder) {
  dir.write_file("f.txt", "x");
  EXPECT_TRUE(folder_root_create(dir.path()).ok());
  EXPECT_FALSE(folder_root_create(dir.at("f.txt")).ok());
  EXPECT_FALSE(folder_root_create(dir.at("missing")).ok());
}

TEST_F(PlatformFolderRootTest, StatTellsKindsSizesAndIdentity) {
  dir.write_file("f.txt", "hello");
  PathStatus status;
  ASSERT_TRUE(folder_root_stat(root.get(), "f.txt").ok());
  status = folder_root_stat(root.get(), "f.txt").value();
  EXPECT_EQ(status.kind, PATH_FILE);
  EXPECT_EQ(status.size, 5);
  // Windows' C runtime gives no file identity.
  if (std::string(platform_name()) == "posix") {
    EXPECT_NE(status.inode, 0u);
  }
  ASSERT_TRUE(folder_root_stat(root.get(), "").ok());
  status = folder_root_stat(root.get(), "").value();
  EXPECT_EQ(status.kind, PATH_DIRECTORY);
  EXPECT_EQ(status.size, 0);
  // Missing is an answer, also below a file.
  for (const char* missing : {"nothing", "f.txt/x"}) {
    Result<PathStatus> found = folder_root_stat(root.get(), missing);
    ASSERT_TRUE(found.ok()) << missing;
    status = found.value();
    EXPECT_EQ(status.kind, PATH_MISSING);
    EXPECT_EQ(status.size, 0);
  }
  EXPECT_FALSE(stat_path("/" + std::string(300, 'n')).ok());
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
  EXPECT_TRUE(folder_root_list(root.get(), "", entries).ok());
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
  EXPECT_FALSE(folder_root_list(root.get(), "missing", none).ok());
  EXPECT_FALSE(folder_root_list(root.get(), "a.txt", none).ok());
  EXPECT_TRUE(none.empty());
}

TEST_F(PlatformFolderRootTest, DirectoriesAreMadeAndKept) {
  dir.write_file("f", "x");
  EXPECT_TRUE(folder_root_make_directories(root.get(), "/a//b/").ok());
  EXPECT_TRUE(std::filesystem::is_directory(dir.at("a/b")));
  EXPECT_TRUE(folder_root_ensure_directory(root.get(), "a").ok());
  EXPECT_FALSE(folder_root_ensure_directory(root.get(), "f").ok());
  EXPECT_FALSE(folder_root_make_directories(root.get(), "f/c").ok());
  EXPECT_FALSE(std::filesystem::exists(dir.at("f/c")));
}

TEST_F(PlatformFolderRootTest, OpenChoosesTheModeFromTheLowTwoBits) {
  EXPECT_FALSE(folder_root_open(root.get(), "new", 0).ok());
  EXPECT_FALSE(folder_root_open(root.get(), "new", OPEN_SHARED).ok());
  EXPECT_FALSE(std::filesystem::exists(dir.at("new")));

  auto out = folder_root_open(root.get(), "new", OPEN_WRITE | OPEN_SHARED).value();
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(byte_stream_write(*out, "abc", 3).value_or(-1), 3);
  EXPECT_TRUE(byte_stream_read(*out, nullptr, 0).status().is_absent());
  EXPECT_TRUE(byte_stream_close(out).ok());

  auto both = folder_root_open(root.get(), "new", OPEN_READ | OPEN_WRITE | OPEN_SHARED).value();
  ASSERT_NE(both, nullptr);
  char bytes[4] = {};
  EXPECT_EQ(byte_stream_read(*both, bytes, 1).value_or(-1), 1);
  EXPECT_EQ(byte_stream_seek(*both, 0, SEEK_END).value_or(-1), 3);
  EXPECT_EQ(byte_stream_write(*both, "d", 1).value_or(-1), 1);
  EXPECT_TRUE(byte_stream_close(both).ok());

  auto in = folder_root_open(root.get(), "new", OPEN_READ | OPEN_SHARED).value();
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(byte_stream_read(*in, bytes, 4).value_or(-1), 4);
  EXPECT_EQ(std::string(bytes, 4), "abcd");
  EXPECT_TRUE(byte_stream_write(*in, "x", 1).status().is_absent());
  EXPECT_FALSE(folder_root_open(root.get(), "missing", OPEN_READ | OPEN_WRITE | OPEN_SHARED).ok());

  in.reset();  // Windows removes no open file
  EXPECT_TRUE(folder_root_remove(root.get(), "new").ok());
  EXPECT_FALSE(folder_root_remove(root.get(), "new").ok());
}

TEST(FolderRootFailures, CarryTheirReasonAsAValue) {
  EXPECT_TRUE(Status().ok());
  EXPECT_FALSE(Status::failure().ok());
  EXPECT_EQ(Status::failure().error(), 0);
  EXPECT_EQ(Status::failure(ENOENT).error(), ENOENT);
  EXPECT_TRUE(Status::from_error(0).ok());
  EXPECT_EQ(Status::from_error(EACCES).error(), EACCES);
  EXPECT_FALSE(Status::absent().ok());
  EXPECT_EQ(Status::absent().error(), 0);
  FolderRoot base("D:/");
  DirEntryMap entries;
  EXPECT_TRUE(folder_root_list(&base, "a", entries).ok());
  EXPECT_EQ(folder_root_identify(&base, "a").error(), EIO);
  EXPECT_FALSE(folder_root_create_new(&base, "a", 0).ok());
  EXPECT_FALSE(folder_root_rename(&base, "a", "b", true).ok());
  EXPECT_FALSE(folder_root_sync(&base, {}).ok());
}

TEST_F(PlatformFolderRootTest, FailuresSayWhy) {
  dir.write_file("a", "1");
  dir.write_file("b", "2");
  EXPECT_EQ(folder_root_remove(root.get(), "missing").error(), ENOENT);
  EXPECT_EQ(folder_root_create_new(root.get(), "a", 0).error(), EEXIST);
  EXPECT_EQ(folder_root_rename(root.get(), "a", "b", false).error(), EEXIST);
  EXPECT_EQ(folder_root_identify(root.get(), "missing").error(), ENOENT);
  EXPECT_EQ(folder_root_ensure_directory(root.get(), "a").error(), ENOTDIR);
  EXPECT_EQ(folder_root_create(dir.at("missing")).error(), ENOENT);
  EXPECT_EQ(folder_root_create(dir.at("missing/below")).error(), ENOENT);
  EXPECT_EQ(folder_root_create(dir.at("a/x/y")).error(), ENOTDIR);  // a file on the way
  EXPECT_TRUE(folder_root_rename(root.get(), "a", "b", true).ok());
  EXPECT_EQ(std::filesystem::file_size(dir.at("b")), 1u);
  EXPECT_FALSE(std::filesystem::exists(dir.at("a")));
}

TEST_F(PlatformFolderRootTest, IdentityTellsALinkFromItsFileAndAFileFromItsEarlierState) {
  dir.write_file("f", "abc");
  Result<PathStatus> first = folder_root_identify(root.get(), "f");
  ASSERT_TRUE(first.ok());
  EXPECT_TRUE(is_regular_file(first.value()));
  EXPECT_EQ(first.value().size, 3);
  EXPECT_TRUE(same_file_state(first.value(), folder_root_identify(root.get(), "f").value()));
  auto opened = folder_root_open(root.get(), "f", OPEN_READ).value();
  ASSERT_TRUE(opened);
  EXPECT_TRUE(same_file_state(first.value(), opened->identity().value()));
  opened.reset();
  dir.write_file("f", "abcd");
  EXPECT_FALSE(same_file_state(first.value(), folder_root_identify(root.get(), "f").value()));
  if (std::string(platform_name()) != "posix") return;  // no links made here on Windows
  Result<PathStatus> folder = folder_root_identify(root.get(), "");
  ASSERT_TRUE(folder.ok());
  EXPECT_EQ(folder.value().kind, PATH_DIRECTORY);
  std::filesystem::create_symlink(dir.at("f"), dir.at("link"));
  Result<PathStatus> link = folder_root_identify(root.get(), "link");
  ASSERT_TRUE(link.ok());
  EXPECT_TRUE(link.value().is_link);
  EXPECT_EQ(link.value().kind, PATH_OTHER);
  EXPECT_FALSE(is_regular_file(link.value()));
  // Followed, the link is its file; the record still says the name was a link.
  Result<PathStatus> followed = folder_root_stat(root.get(), "link");
  ASSERT_TRUE(followed.ok());
  EXPECT_EQ(followed.value().kind, PATH_FILE);
  EXPECT_TRUE(followed.value().is_link);
  EXPECT_FALSE(is_regular_file(followed.value()));
}

TEST(MemoryFolderRoot, BehavesLikeTheDiskWhereLaterTestsRelyOnIt) {
  MemoryFolderRoot root("/mem/");
  root.add_file("in/a.txt", "abc");
  // Folders are made one level at a time, and only where nothing is.
  EXPECT_FALSE(folder_root_ensure_directory(&root, "x/y").ok());
  EXPECT_TRUE(folder_root_make_directories(&root, "x/y").ok());
  EXPECT_FALSE(root.make_directory("/mem/x").ok());
  EXPECT_EQ(root.directories_made, (std::vector<std::string>{"x", "x/y"}));
  Result<PathStatus> status = root.stat("/memory/in");
  ASSERT_TRUE(status.ok());
  EXPECT_EQ(status.value().kind, PATH_MISSING);

  // Writing needs the folder; reading and read-write need the file.
  EXPECT_FALSE(folder_root_open(&root, "nowhere/a.trc", OPEN_WRITE | OPEN_SHARED).ok());
  EXPECT_FALSE(folder_root_open(&root, "in/b.txt", OPEN_READ | OPEN_WRITE | OPEN_SHARED).ok());
  EXPECT_FALSE(folder_root_open(&root, "in", 5).ok());

  // A file removed while its stream is held stays removed, and a failed close ends the stream.
  root.fail_close.insert("x/a.trc");
  auto out = folder_root_open(&root, "x/a.trc", 6).value();
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(byte_stream_write(*out, "hi", 2).value_or(-1), 2);
  EXPECT_EQ(root.file("x/a.trc"), "hi");
  EXPECT_FALSE(byte_stream_close(out).ok());
  ASSERT_NE(out, nullptr);
  EXPECT_FALSE(byte_stream_write(*out, "!", 1).ok());
  EXPECT_TRUE(folder_root_remove(&root, "x/a.trc").ok());
  out.reset();
  EXPECT_FALSE(root.has_file("x/a.trc"));
  EXPECT_EQ(root.closes, 1);
}

}  // namespace
}  // namespace velmarch
