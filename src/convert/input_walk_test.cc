// The walk over the in-memory folder: which files it converts in what order, which output
// folders it makes and when, and what it contributes to the status.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "convert/conversion_job.h"
#include "convert/input_walk.h"
#include "testing/job_runs.h"
#include "testing/memory_folder_root.h"
#include "testing/recording_sink.h"

namespace velmarch {
namespace {

std::string text_log(int session) {
  return "# Logger ID: L1\n# Session No.: " + std::to_string(session) +
         "\n# Split No.: 1\n# Value separator: \";\"\nTimestamp;ID\n1;7\n";
}

class InputWalk : public ::testing::Test {
 protected:
  int run(const std::vector<std::string>& inputs, FolderRoot* output_root = nullptr) {
    auto job = job_create(&in, output_root != nullptr ? output_root : &in, &flags, &sink);
    return job_run_logged(*job, inputs, log);
  }

  // The input of every file the sink was handed, in order.
  std::vector<std::string> converted() const {
    std::vector<std::string> inputs;
    for (const auto& call : sink.calls) {
      if (call.rfind("new_file ", 0) == 0) inputs.push_back(call.substr(9, call.find(' ', 9) - 9));
    }
    return inputs;
  }

  MemoryFolderRoot in{"/data/"};
  ConversionFlags flags;
  RecordingSink sink;
  std::vector<std::string> log;
};

TEST_F(InputWalk, FoldersAreWalkedInByteOrderAndMirroredAsFilesNeedThem) {
  in.add_file("logs/b.TXT", text_log(2));
  in.add_file("logs/Z.txt", text_log(1));
  in.add_file("logs/a.txt", text_log(3));
  in.add_file("logs/notes.csv", "not a log");
  in.add_file("logs/s/t/d.txt", text_log(4));
  in.add_directory("logs/empty");
  EXPECT_EQ(run({"logs/"}), 0);
  EXPECT_EQ(converted(), (std::vector<std::string>{"logs/Z.txt", "logs/a.txt", "logs/b.TXT",
                                                   "logs/s/t/d.txt"}));
  // Made one level at a time, just before the first file that goes there; none for an empty
  // folder or one without logs.
  EXPECT_EQ(in.directories_made,
            (std::vector<std::string>{"logs_out", "logs_out/s", "logs_out/s/t"}));
  EXPECT_TRUE(log.empty());
}

TEST_F(InputWalk, OutputsGoBesideTheInputsWithoutTheOutSuffix) {
  flags.no_append_root = true;
  in.add_file("logs/a.txt", text_log(1));
  EXPECT_EQ(run({"logs/"}), 0);
  EXPECT_TRUE(in.directories_made.empty());  // the folders are the input's own
  EXPECT_EQ(sink.calls.front(), "new_file logs/a.txt continuation=0");
}

TEST_F(InputWalk, OutputFoldersAreMadeUnderTheOutputRoot) {
  MemoryFolderRoot out("/archive/");
  in.add_file("logs/s/a.txt", text_log(1));
  in.add_file("b.txt", text_log(2));
  EXPECT_EQ(run({"logs/", "b.txt"}, &out), 0);
  EXPECT_TRUE(in.directories_made.empty());
  EXPECT_EQ(out.directories_made, (std::vector<std::string>{"logs_out", "logs_out/s"}));
}

TEST_F(InputWalk, StatusesCombine) {
  in.add_file("logs/a.txt", "no header at all\n");
  EXPECT_EQ(run({"missing/", "logs/"}), 9);
  EXPECT_EQ(log, (std::vector<std::string>{"W Could not find input file/folder missing/",
                                           "E Could not open log",
                                           "E Error during conversion of logs/a.txt"}));
  in.fail_list.insert("logs");
  EXPECT_EQ(run({"logs/"}), 129);
  EXPECT_EQ(log, std::vector<std::string>{"E Could not list folder logs/"});
}

TEST_F(InputWalk, TopLevelStatusThatCannotBeReadStopsTheRun) {
  in.add_file("a.txt", text_log(1));
  in.add_file("b.txt", text_log(2));
  in.fail_stat.insert("a.txt");
  EXPECT_EQ(run({"a.txt", "b.txt"}), 129);
  EXPECT_EQ(log, std::vector<std::string>{"F Could not query a.txt for information"});
  EXPECT_TRUE(sink.calls.empty());
}

// The walk alone: what it tells a visitor, and where outputs go.
class RecordingVisitor final : public WalkVisitor {
 public:
  bool stop_requested() override { return stop_after > 0 && files.size() >= stop_after; }
  void on_file(const WalkedFile& file) override {
    files.push_back(std::string(file.input) + " -> " + std::string(file.output));
  }
  std::vector<std::string> files;
  size_t stop_after = 0;
};

TEST(WalkOnly, TellsEachLogWithItsOutputAndStopsWhenAsked) {
  MemoryFolderRoot in("/data/");
  in.add_file("logs/b.txt", "");
  in.add_file("logs/a.txt", "");
  in.add_file("logs/c.log", "");
  in.add_file("logs/s/d.TXT", "");
  RecordingVisitor visitor;
  EXPECT_EQ(walk_input(&in, "logs", "logs_out", visitor), EXIT_OK);
  EXPECT_EQ(visitor.files, (std::vector<std::string>{"logs/a.txt -> logs_out/a",
                                                     "logs/b.txt -> logs_out/b",
                                                     "logs/s/d.TXT -> logs_out/s/d"}));
  RecordingVisitor stopping;
  stopping.stop_after = 1;
  EXPECT_EQ(walk_input(&in, "logs", "logs_out", stopping), EXIT_OK);
  EXPECT_EQ(stopping.files, std::vector<std::string>{"logs/a.txt -> logs_out/a"});
}

TEST(WalkOnly, FolderOutputsGoBesideTheFirstComponent) {
  MemoryFolderRoot in("/data/");
  in.add_file("logs/day1/a.txt", "");
  in.add_file("b.txt", "");
  EXPECT_EQ(output_of_input(&in, "logs", false)->view(), "logs_out");
  EXPECT_EQ(output_of_input(&in, "logs/day1", false)->view(), "logs_out/day1");
  EXPECT_EQ(output_of_input(&in, "b.txt", false)->view(), "b.txt");
  EXPECT_EQ(output_of_input(&in, "logs", true)->view(), "logs");
}

}  // namespace
}  // namespace velmarch
