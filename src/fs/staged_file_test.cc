#include "fs/staged_file.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "fs/path_value.h"
#include "testing/memory_folder_root.h"

namespace velmarch {
namespace {

TEST(TemporaryPath, IsHiddenBesideTheFinalOneAndNamesIt) {
  SmallString temporary = temporary_path_for("logs_out/a.trc", 12345);
  EXPECT_TRUE(std::regex_match(std::string(temporary.view()),
                               std::regex(R"(logs_out/\.a\.trc\.[a-z0-9]{6}\.part)")))
      << temporary.c_str();
  EXPECT_EQ(final_path_of(temporary.view()).view(), "logs_out/a.trc");
  EXPECT_NE(temporary_path_for("a.trc", 1).view(), temporary_path_for("a.trc", 2).view());
  EXPECT_TRUE(final_path_of("logs/a.txt").empty());
  EXPECT_TRUE(final_path_of(".a.trc.part").empty());
  // A name too long for the additions is cut, so that the file can still be made.
  std::string long_name(250, 'n');
  EXPECT_LE(path_file_name(temporary_path_for(long_name + ".trc", 7).view()).size(), 255u);
}

TEST(StagedFile, TakesItsNameOnlyWhenPublished) {
  MemoryFolderRoot root;
  root.add_file("a.trc", "before");
  {
    auto file = StagedFile::create(&root, "a.trc", 0640, 1).value();
    ASSERT_TRUE(file);
    (void)byte_stream_write(file->stream(), "new", 3);
    ASSERT_TRUE(file->close().ok());
    EXPECT_EQ(root.file("a.trc"), "before");
    EXPECT_EQ(file->publish(false).error(), EEXIST);
    EXPECT_EQ(root.file("a.trc"), "before");
    EXPECT_TRUE(file->publish(true).ok());
  }
  EXPECT_EQ(root.file("a.trc"), "new");
  EXPECT_EQ(root.permissions("a.trc"), 0640u);
  EXPECT_EQ(root.files(), std::vector<std::string>{"a.trc"});
}

TEST(StagedFile, WhatIsNotPublishedGoesWithIt) {
  MemoryFolderRoot root;
  {
    auto open = StagedFile::create(&root, "open.trc", 0, 2).value();
    ASSERT_TRUE(open);
    (void)byte_stream_write(open->stream(), "part", 4);
    auto closed = StagedFile::create(&root, "closed.trc", 0, 3).value();
    ASSERT_TRUE(closed);
    EXPECT_TRUE(closed->close().ok());
    EXPECT_EQ(root.files().size(), 2u);
  }
  EXPECT_TRUE(root.files().empty());
  // A removal that failed is not tried again: what stays is left for the caller to tell.
  root.fail_remove.insert("stuck.trc");
  {
    auto stuck = StagedFile::create(&root, "stuck.trc", 0, 4).value();
    ASSERT_TRUE(stuck);
    EXPECT_TRUE(stuck->close().ok());
    EXPECT_FALSE(stuck->remove().ok());
  }
  EXPECT_EQ(root.files_removed.size(), 2u + 0u);  // the two above; stuck's one try failed
  EXPECT_EQ(root.files().size(), 1u);
}

TEST(StagedFile, CreationFailureSaysWhy) {
  MemoryFolderRoot root;
  root.fail_open.insert("a.trc");
  EXPECT_FALSE(StagedFile::create(&root, "a.trc", 0, 5).ok());
  EXPECT_TRUE(root.files().empty());
}

}  // namespace
}  // namespace velmarch
