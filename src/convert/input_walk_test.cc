// The walk over the in-memory folder: which files it converts in what order, which output
// folders it makes and when, and what it contributes to the status.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "convert/conversion_job.h"
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

}  // namespace
}  // namespace velmarch
