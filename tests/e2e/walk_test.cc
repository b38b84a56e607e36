#include <sys/stat.h>
#include <unistd.h>

#include "e2e_harness.h"
#include "testing/test_data.h"

namespace e2e {
namespace {

using velmarch::read_test_data;

// The frames of the writer's worked example, as a logger records them.
std::string example_log(int session = 1, int split = 1) {
  return text_log(session, split,
                  {"11:05:53.123;0;123;8;1122334455667788", "11:05:53.135;9;18FF1234;3;010203",
                   "11:05:54.635;0;7FF;0;"});
}

using Walk = Scratch;

TEST_F(Walk, SingleFileConvertsBesideItselfByteForByte) {
  write("a.txt", example_log());
  RunResult result = run({"a.txt"});
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(result.raw_err.empty()) << result.raw_err;
  EXPECT_EQ(read("a.trc"), read_test_data("example_v2_1.trc"));
  ASSERT_EQ(run({"--trace-format", "version1", path("a.txt")}).status, 0);
  EXPECT_EQ(read("a.trc"), read_test_data("example_v1_1.trc"));
}

TEST_F(Walk, FolderIsMirroredIntoOutFolder) {
  write("logs/a.txt", example_log(1, 1));
  write("logs/b.TXT", example_log(2, 1));
  write("logs/notes.csv", "x");
  write("logs/run.1.txt", example_log(3, 1));
  write("logs/s/d.txt", example_log(4, 1));
  mkdir("logs/empty");
  RunResult result = run({"logs"});
  EXPECT_EQ(result.status, 0) << result.raw_err;
  EXPECT_EQ(tree(), (std::vector<std::string>{
                        "logs/", "logs/a.txt", "logs/b.TXT", "logs/empty/", "logs/notes.csv",
                        "logs/run.1.txt", "logs/s/", "logs/s/d.txt", "logs_out/",
                        "logs_out/a.trc", "logs_out/b.trc", "logs_out/run.1.trc", "logs_out/s/",
                        "logs_out/s/d.trc"}));
}

TEST_F(Walk, DotsNameTheFolderTheyLeadTo) {
  write("data/logs/a.txt", example_log(1, 1));
  working_folder_ = "data/logs";
  ASSERT_EQ(run({"."}).status, 0);
  EXPECT_TRUE(exists("data/logs_out/a.trc"));
  ASSERT_EQ(run({".."}).status, 0);
  EXPECT_TRUE(exists("data_out/logs/a.trc"));
  EXPECT_FALSE(exists("data/logs/._out"));
}

TEST_F(Walk, NoAppendRootWritesBesideTheInputs) {
  write("logs/a.txt", example_log(1, 1));
  write("logs/s/d.txt", example_log(2, 1));
  ASSERT_EQ(run({"-X", "logs/"}).status, 0);
  EXPECT_TRUE(exists("logs/a.trc"));
  EXPECT_TRUE(exists("logs/s/d.trc"));
  EXPECT_FALSE(exists("logs_out"));
}

TEST_F(Walk, OutputDirectoryTakesTheMirror) {
  write("in/logs/a.txt", example_log(1, 1));
  write("in/b.txt", example_log(2, 1));
  mkdir("out");
  ASSERT_EQ(run({"-O", "out", "in/logs", "in/b.txt"}).status, 0);
  EXPECT_TRUE(exists("out/logs_out/a.trc"));
  EXPECT_TRUE(exists("out/b.trc"));
  ASSERT_EQ(run({"--no-append-root", "--output-directory", "out", "in/logs"}).status, 0);
  EXPECT_TRUE(exists("out/logs/a.trc"));
}

TEST_F(Walk, FilesAreVisitedInByteOrder) {
  // The same identity twice: whichever comes second is skipped as a repeat.
  write("logs/a.txt", example_log(5, 3));
  write("logs/Z.txt", example_log(5, 3));
  RunResult result = run({"logs"});
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(exists("logs_out/Z.trc"));
  EXPECT_FALSE(exists("logs_out/a.trc"));
  EXPECT_TRUE(has_line(result.log, "W Repeated input file (0000AB12, 00000005, 00000003)"));
  EXPECT_TRUE(has_line(result.log, "I Skipped logs/a.txt: it repeats logs/Z.txt"));
}

TEST_F(Walk, OnlyAFileNamedOnTheCommandLineIsPassedOverAloud) {
  write("card/CONFIG.INI", example_log(1, 1));
  write("card/a.txt", example_log(2, 1));
  RunResult result = run({"card/CONFIG.INI"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.log, std::vector<std::string>{"W Passed over CONFIG.INI: not a txt file"});
  // In a folder's walk it is one of many files a card holds.
  result = run({"card"});
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(result.log.empty()) << result.raw_err;
  EXPECT_EQ(tree(), (std::vector<std::string>{"card/", "card/CONFIG.INI", "card/a.txt",
                                              "card_out/", "card_out/a.trc"}));
}

TEST_F(Walk, MissingInputAndFailedFileGiveNine) {
  write("in/bad.txt", "Timestamp;Type\n");
  RunResult result = run({"in/missing.txt", "in/bad.txt"});
  EXPECT_EQ(result.status, 9);
  EXPECT_TRUE(has_line(result.log, "W Could not find input file/folder missing.txt"));
  EXPECT_TRUE(has_line(result.log, "E Could not open log"));
  EXPECT_TRUE(has_line(result.log, "E Error during conversion of bad.txt"));
}

TEST_F(Walk, DeleteConvertedRemovesOnlyWhatWasConverted) {
  write("logs/a.txt", example_log(1, 1));
  write("logs/bad.txt", text_log(0, 1, {"11:05:53.123;0;123;0;"}));
  write("logs/repeat.txt", example_log(1, 1));
  RunResult result = run({"-d", "logs"});
  EXPECT_EQ(result.status, 8);
  EXPECT_FALSE(exists("logs/a.txt"));
  EXPECT_TRUE(exists("logs_out/a.trc"));
  EXPECT_TRUE(exists("logs/bad.txt"));
  EXPECT_TRUE(exists("logs/repeat.txt"));
  EXPECT_TRUE(has_line(result.log, "E Could not parse file header"));
}

TEST_F(Walk, FileNamedTxtKeepsItsWholeName) {
  write("logs/txt", example_log(1, 1));
  write("TXT", example_log(2, 1));
  ASSERT_EQ(run({"logs", "TXT"}).status, 0);
  EXPECT_TRUE(exists("logs_out/txt.trc"));
  EXPECT_TRUE(exists("TXT.trc"));
  EXPECT_FALSE(exists("logs_out.trc"));
}

TEST_F(Walk, LinkLoopIsNotFollowed) {
  if (under_wine()) GTEST_SKIP() << "Windows here has no symbolic links";
  write("logs/a.txt", example_log(1, 1));
  ASSERT_EQ(symlink("..", path("logs/up").c_str()), 0);
  ASSERT_EQ(symlink(".", path("logs/self").c_str()), 0);
  RunResult result = run({"-X", "logs"});
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(exists("logs/a.trc"));
  EXPECT_TRUE(has_line(result.log,
                       "W Skipping logs/self: it links back to a folder being converted"));
}

TEST_F(Walk, EmptyFileAndFramelessFileLeaveNoTrace) {
  write("logs/empty.txt", "");
  write("logs/frameless.txt", text_log(1, 1, {}));
  RunResult result = run({"logs"});
  EXPECT_EQ(result.status, 8);
  EXPECT_FALSE(exists("logs_out/empty.trc"));
  EXPECT_FALSE(exists("logs_out/frameless.trc"));
}

}  // namespace
}  // namespace e2e
