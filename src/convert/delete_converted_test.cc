// --delete-converted over the in-memory tree: the order of the calls that make a trace durable
// before its input goes, and every reason an input stays.

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "convert/conversion_job.h"
#include "testing/job_runs.h"
#include "testing/memory_folder_root.h"
#include "trc/trc_writer.h"

namespace velmarch {
namespace {

std::string text_log(int session, int records) {
  std::string log = "# Logger ID: L1\n# Session No.: " + std::to_string(session) +
                    "\n# Split No.: 1\n# Time: 20241017T110553\n# Value separator: \";\"\n"
                    "# Time format: 3\n# Time separator: \":\"\n# Time separator ms: \".\"\n"
                    "Timestamp;Type;ID;Length;Data\n";
  for (int i = 0; i < records; ++i) log += "11:05:53." + std::to_string(100 + i) + ";0;123;1;11\n";
  return log;
}

// The run's interruption, as a test sets it.
int interruption_signal = 0;
int test_interruption() { return interruption_signal; }

class DeleteConverted : public ::testing::Test {
 protected:
  void SetUp() override {
    flags.delete_converted = true;
    interruption_signal = 0;
  }

  int run(const std::vector<std::string>& inputs) {
    writer = trc_writer_create(TRC_VERSION_2_1);
    job = job_create(&fs, &fs, &flags, writer.get());
    job->take_interruption_from(test_interruption);
    return job_run_logged(*job, inputs, log);
  }

  // The tree's calls, each temporary name written as "~" and the trace it stands for.
  std::vector<std::string> calls() const {
    std::vector<std::string> named;
    for (const auto& call : fs.calls) {
      std::istringstream words(call);
      std::string out;
      for (std::string word; words >> word;) {
        SmallString final_path = final_path_of(word);
        out += (out.empty() ? "" : " ") +
               (final_path.empty() ? word : "~" + std::string(final_path.view()));
      }
      named.push_back(out);
    }
    return named;
  }

  MemoryFolderRoot fs{"/data/"};
  ConversionFlags flags;
  std::unique_ptr<TrcWriter> writer;
  std::unique_ptr<ConversionJob> job;
  std::vector<std::string> log;
};

TEST_F(DeleteConverted, TracesAreDurableBeforeAnyInputGoes) {
  fs.add_file("logs/a.txt", text_log(1, 2));
  fs.add_file("logs/b.txt", text_log(2, 2));
  EXPECT_EQ(run({"logs"}), 0);
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(calls(),
            (std::vector<std::string>{
                "create ~logs_out/a.trc", "create ~logs_out/b.trc",
                "sync ~logs_out/a.trc ~logs_out/b.trc", "rename ~logs_out/a.trc -> logs_out/a.trc",
                "rename ~logs_out/b.trc -> logs_out/b.trc", "sync logs_out/a.trc logs_out/b.trc",
                "remove logs/a.txt", "remove logs/b.txt"}));
}

TEST_F(DeleteConverted, WithoutDeletionTracesArePublishedAtOnce) {
  flags.delete_converted = false;
  fs.add_file("logs/a.txt", text_log(1, 2));
  fs.add_file("logs_out/a.trc", "an older trace");
  EXPECT_EQ(run({"logs"}), 0);
  EXPECT_EQ(calls(), (std::vector<std::string>{"create ~logs_out/a.trc",
                                               "rename ~logs_out/a.trc -> logs_out/a.trc"}));
  EXPECT_NE(fs.file("logs_out/a.trc"), "an older trace");
}

TEST_F(DeleteConverted, FailedFlushKeepsInputsAndPublishesNothing) {
  fs.add_file("logs/a.txt", text_log(1, 2));
  fs.fail_sync = true;
  EXPECT_EQ(run({"logs"}), 8);
  EXPECT_EQ(log, (std::vector<std::string>{"E Could not flush CAN file logs_out/a.trc to disk",
                                           "E Error during conversion of logs/a.txt"}));
  EXPECT_EQ(fs.files(), std::vector<std::string>{"logs/a.txt"});
}

TEST_F(DeleteConverted, InputChangedSinceItWasOpenedStays) {
  fs.add_file("logs/a.txt", text_log(1, 2));
  fs.add_file("logs/b.txt", text_log(2, 2));
  fs.on_open_for_reading = [&](const std::string& path) {
    if (path == "logs/a.txt") fs.append(path, "11:05:54.000;0;1;0;\n");
    if (path == "logs/b.txt") fs.add_file(path, "a newer upload");
  };
  EXPECT_EQ(run({"logs"}), 8);
  EXPECT_EQ(log,
            (std::vector<std::string>{"E Input changed during conversion, not removed: logs/a.txt",
                                      "E Error during conversion of logs/a.txt",
                                      "E Input changed during conversion, not removed: logs/b.txt",
                                      "E Error during conversion of logs/b.txt"}));
  EXPECT_TRUE(fs.has_file("logs_out/a.trc"));  // the trace of what was read stays
  EXPECT_EQ(fs.file("logs/b.txt"), "a newer upload");
}

TEST_F(DeleteConverted, TraceTakesTheInputsPermissions) {
  fs.add_file("logs/a.txt", text_log(1, 2), 0600);
  fs.add_file("logs/b.txt", text_log(2, 2), 0644);
  EXPECT_EQ(run({"logs"}), 0);
  EXPECT_EQ(fs.permissions("logs_out/a.trc"), 0600u);
  EXPECT_EQ(fs.permissions("logs_out/b.trc"), 0644u);
}

TEST_F(DeleteConverted, InterruptedInAFileDeletesNothingAndKeepsFinishedTraces) {
  fs.add_file("logs/a.txt", text_log(1, 2));
  fs.add_file("logs/b.txt", text_log(2, 2));
  fs.on_open_for_reading = [](const std::string& path) {
    if (path == "logs/b.txt") interruption_signal = 2;
  };
  run({"logs"});
  EXPECT_TRUE(job->stopped());
  EXPECT_EQ(log, std::vector<std::string>{"F Interrupted: logs/b.txt not converted"});
  // The whole trace that waited for the commit is published; the one in flight goes.
  EXPECT_EQ(fs.files(), (std::vector<std::string>{"logs/a.txt", "logs/b.txt", "logs_out/a.trc"}));
  const std::string whole = fs.file("logs_out/a.trc");
  EXPECT_EQ(whole.rfind(";$FILEVERSION=2.1\n", 0), 0u);
  EXPECT_EQ(std::count(whole.begin(), whole.end(), '\n'), 5);  // the header and both frames

  // Unless something took its name meanwhile: that stays, and so does the input.
  (void)folder_root_remove(&fs, "logs_out/a.trc");
  fs.on_open_for_reading = [this](const std::string& path) {
    if (path == "logs/b.txt") {
      fs.add_file("logs_out/a.trc", "another run's");
      interruption_signal = 2;
    }
  };
  interruption_signal = 0;
  run({"logs"});
  EXPECT_EQ(fs.file("logs_out/a.trc"), "another run's");
  EXPECT_EQ(fs.files(), (std::vector<std::string>{"logs/a.txt", "logs/b.txt", "logs_out/a.trc"}));
  fs.on_open_for_reading = [](const std::string& path) {
    if (path == "logs/b.txt") interruption_signal = 2;
  };
  (void)folder_root_remove(&fs, "logs_out/a.trc");

  // Without deletion the trace finished before stays too.
  flags.delete_converted = false;
  interruption_signal = 0;
  run({"logs"});
  EXPECT_EQ(log, std::vector<std::string>{"F Interrupted: logs/b.txt not converted"});
  EXPECT_EQ(fs.files(), (std::vector<std::string>{"logs/a.txt", "logs/b.txt", "logs_out/a.trc"}));
}

TEST_F(DeleteConverted, InterruptedBetweenFilesSaysSoOnce) {
  fs.add_file("logs/a.txt", text_log(1, 2));
  fs.add_file("logs/b.txt", text_log(2, 0));  // no frame, so no look at the signal within it
  fs.add_file("logs/c.txt", text_log(3, 2));
  fs.on_open_for_reading = [](const std::string& path) {
    if (path == "logs/b.txt") interruption_signal = 15;
  };
  run({"logs", "logs"});
  EXPECT_EQ(log, (std::vector<std::string>{"W No frames converted from logs/b.txt, input kept",
                                           "F Interrupted"}));
  EXPECT_EQ(fs.files(), (std::vector<std::string>{"logs/a.txt", "logs/b.txt", "logs/c.txt",
                                                  "logs_out/a.trc"}));
}

// Interrupted after this many looks at the signal, within a file's frames.
int looks_left = 0;
int interruption_after_looks() { return --looks_left < 0 ? 2 : 0; }

TEST_F(DeleteConverted, SummaryCountsOnlyWhatIsOnDisk) {
  std::string many = text_log(2, 0);
  for (int i = 0; i < 10000; ++i) many += "11:05:54.000;0;123;1;11\n";
  for (bool taken : {false, true}) {
    SCOPED_TRACE(taken ? "a's name taken meanwhile" : "a published when the run stops");
    MemoryFolderRoot tree;
    tree.add_file("logs/a.txt", text_log(1, 2));
    tree.add_file("logs/b.txt", many);
    if (taken) {
      tree.on_open_for_reading = [&tree](const std::string& path) {
        if (path == "logs/b.txt") tree.add_file("logs_out/a.trc", "another run's");
      };
    }
    RunProgress progress;
    std::unique_ptr<TrcWriter> sink = trc_writer_create(TRC_VERSION_2_1);
    std::unique_ptr<ConversionJob> stopping = job_create(&tree, &tree, &flags, sink.get());
    stopping->show_progress(&progress);
    stopping->take_interruption_from(interruption_after_looks);
    looks_left = 9000;  // b's first 8,192 frames were told to the progress by then
    std::vector<std::string> said;
    job_run_logged(*stopping, {"logs"}, said);
    EXPECT_EQ(progress.frames.load(), 2);  // a's, whatever became of its trace
    EXPECT_EQ(progress.files_converted.load(), taken ? 0 : 1);
    EXPECT_EQ(progress.files_failed.load(), taken ? 1 : 0);
    EXPECT_EQ(tree.file("logs_out/a.trc") == "another run's", taken);
  }
}

TEST_F(DeleteConverted, ManySmallFilesShareAFlush) {
  for (int i = 0; i < 1100; ++i)
    fs.add_file("logs/f" + std::to_string(1000 + i) + ".txt", text_log(i + 1, 1));
  EXPECT_EQ(run({"logs"}), 0);
  int syncs = 0;
  for (const auto& call : fs.calls) syncs += call.rfind("sync", 0) == 0 ? 1 : 0;
  EXPECT_EQ(syncs, 4);                  // one commit at 1024 files, one at the end of the input
  EXPECT_EQ(fs.files().size(), 1100u);  // only the traces
}

}  // namespace
}  // namespace velmarch
