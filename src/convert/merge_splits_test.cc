// --merge-splits over the in-memory tree: which files make one trace, that a merged trace is the
// trace of one file holding every split, and that a split which fails, a run that stops or a
// trace that cannot be published loses nothing and publishes no part of a recording.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "convert/conversion_job.h"
#include "testing/job_runs.h"
#include "testing/memory_folder_root.h"
#include "testing/text_logs.h"
#include "trc/trc_writer.h"

namespace velmarch {
namespace {

int interruption_signal = 0;
int interrupt_after = -1;  // calls that answer no before the run is interrupted
int test_interruption() {
  if (interrupt_after > 0) --interrupt_after;
  if (interrupt_after == 0) return 2;
  return interruption_signal;
}

class MergeSplits : public ::testing::Test {
 protected:
  void SetUp() override {
    flags.merge_splits = true;
    interruption_signal = 0;
    interrupt_after = -1;
  }

  int run(const std::vector<std::string>& inputs) {
    writer = trc_writer_create(TRC_VERSION_2_1);
    job = job_create(fs.get(), fs.get(), &flags, writer.get());
    job->take_interruption_from(test_interruption);
    return job_run_logged(*job, inputs, log);
  }

  // The trace of one file that holds every frame of a recording.
  std::string trace_of_one_file(const std::string& text) {
    MemoryFolderRoot one{"/one/"};
    one.add_file("whole.txt", text);
    ConversionFlags single;
    std::unique_ptr<TrcWriter> format = trc_writer_create(TRC_VERSION_2_1);
    std::unique_ptr<ConversionJob> whole = job_create(&one, &one, &single, format.get());
    std::vector<std::string> ignored;
    EXPECT_EQ(job_run_logged(*whole, {"whole.txt"}, ignored), 0);
    return one.file("whole.trc");
  }

  std::vector<std::string> traces() const {
    std::vector<std::string> found;
    for (const std::string& path : fs->files()) {
      if (path.size() > 4 && path.substr(path.size() - 4) == ".trc") found.push_back(path);
    }
    return found;
  }

  // A recording of five splits of 20 frames each: c/01.txt to c/05.txt.
  void add_five_splits() {
    for (int i = 1; i <= 5; ++i) {
      fs->add_file("c/0" + std::to_string(i) + ".txt", split_log("L1", 17, i, 20 * (i - 1), 20));
    }
  }

  std::unique_ptr<MemoryFolderRoot> fs = std::make_unique<MemoryFolderRoot>("/data/");
  ConversionFlags flags;
  std::unique_ptr<TrcWriter> writer;
  std::unique_ptr<ConversionJob> job;
  std::vector<std::string> log;
};

TEST_F(MergeSplits, ACardGivesOneTracePerRecording) {
  fs->add_file("card/01.txt", split_log("L1", 1, 1, 0, 5));      // a recording of one split
  fs->add_file("card/02.txt", split_log("L1", 2, 1, 0, 7));      // of two
  fs->add_file("card/03.txt", split_log("L1", 2, 2, 7, 7));
  for (int i = 1; i <= 5; ++i) {                            // of five, with a repeat
    fs->add_file("card/1" + std::to_string(i) + ".txt", split_log("L1", 3, i, 10 * (i - 1), 10));
  }
  fs->add_file("card/13r.txt", split_log("L1", 3, 3, 100, 3));  // a repeat of split 3
  fs->add_file("card/21.txt", split_log("L1", 4, 1, 0, 4));      // a gap after split 2
  fs->add_file("card/22.txt", split_log("L1", 4, 2, 4, 4));
  fs->add_file("card/24.txt", split_log("L1", 4, 4, 12, 4));
  fs->add_file("card/31.txt", split_log("L1", 5, 1, 0, 4));      // a rejected header in between
  fs->add_file("card/32.txt", split_log("L1", 0, 2, 4, 4));
  fs->add_file("card/33.txt", split_log("L1", 5, 2, 4, 4));
  fs->add_file("card/41.txt", split_log("L1", 6, 1, 0, 4));      // two loggers, interleaved
  fs->add_file("card/42.txt", split_log("L2", 6, 1, 0, 4));
  fs->add_file("card/43.txt", split_log("L1", 6, 2, 4, 4));
  fs->add_file("card/44.txt", split_log("L2", 6, 2, 4, 4));

  for (int jobs : {1, 3}) {
    SCOPED_TRACE(std::to_string(jobs) + " jobs");
    flags.jobs = jobs;
    for (const std::string& trace : traces()) ASSERT_TRUE(folder_root_remove(fs.get(), trace).ok());
    EXPECT_EQ(run({"card"}), 8);  // the rejected header
    EXPECT_EQ(traces(),
              (std::vector<std::string>{"card_out/01.trc", "card_out/02.trc", "card_out/11.trc",
                                        "card_out/21.trc", "card_out/24.trc", "card_out/31.trc",
                                        "card_out/33.trc", "card_out/41.trc", "card_out/42.trc",
                                        "card_out/43.trc", "card_out/44.trc"}));
    EXPECT_EQ(log, (std::vector<std::string>{
                       "W Repeated input file (L1, 00000003, 00000003)",
                       "I Skipped card/13r.txt: it repeats card/13.txt",
                       "E Could not parse file header",
                       "E Error during conversion of card/32.txt",
                   }));
    EXPECT_EQ(fs->file("card_out/02.trc"), trace_of_one_file(split_log("L1", 2, 1, 0, 14)));
    EXPECT_EQ(fs->file("card_out/11.trc"), trace_of_one_file(split_log("L1", 3, 1, 0, 50)));
    EXPECT_EQ(fs->file("card_out/21.trc"), trace_of_one_file(split_log("L1", 4, 1, 0, 8)));
    EXPECT_EQ(fs->file("card_out/24.trc"), trace_of_one_file(split_log("L1", 4, 4, 12, 4)));
  }
}

TEST_F(MergeSplits, WithoutTheFlagEverySplitHasItsOwnTrace) {
  flags.merge_splits = false;
  add_five_splits();
  EXPECT_EQ(run({"c"}), 0);
  EXPECT_EQ(traces().size(), 5u);
}

TEST_F(MergeSplits, FramesRunningBackAcrossASplitAreDroppedAsWithinOneFile) {
  fs->add_file("c/01.txt", split_log("L1", 1, 1, 0, 10));
  fs->add_file("c/02.txt", split_log("L1", 1, 2, 5, 10));  // its first four run back
  EXPECT_EQ(run({"c"}), 0);
  EXPECT_EQ(fs->file("c_out/01.trc"),
            trace_of_one_file(split_log("L1", 1, 1, 0, 10) + split_records(5, 10)));
}

TEST_F(MergeSplits, WithDeletionEveryInputGoesOnlyAfterTheWholeTraceIsDurable) {
  flags.delete_converted = true;
  add_five_splits();
  EXPECT_EQ(run({"c"}), 0);
  EXPECT_TRUE(log.empty());
  std::vector<std::string> calls = fs->calls;
  auto synced = std::find_if(calls.begin(), calls.end(),
                             [](const std::string& call) { return call.rfind("sync ", 0) == 0; });
  ASSERT_NE(synced, calls.end());
  auto first_remove = std::find(calls.begin(), calls.end(), "remove c/01.txt");
  EXPECT_LT(synced, first_remove);
  EXPECT_EQ(std::count_if(calls.begin(), calls.end(),
                          [](const std::string& call) { return call.rfind("create ", 0) == 0; }),
            1);
  EXPECT_EQ(fs->files(), std::vector<std::string>{"c_out/01.trc"});
}

TEST_F(MergeSplits, AFailingMiddleSplitPublishesNoPartOfItsTraceAndDeletesNothing) {
  for (int jobs : {1, 3}) {
    SCOPED_TRACE(std::to_string(jobs) + " jobs");
    flags.jobs = jobs;
    flags.delete_converted = true;
    fs = std::make_unique<MemoryFolderRoot>("/data/");
    add_five_splits();
    fs->fail_reads_from["c/03.txt"] = 300;  // within its records
    EXPECT_EQ(run({"c"}), 8);
    EXPECT_EQ(log, (std::vector<std::string>{
                       "E Could not read input file c/03.txt",
                       "E Error during conversion of c/03.txt",
                       "E Trace c_out/01.trc not written: a later split of its recording failed",
                       "E Error during conversion of c/01.txt",
                       "E Error during conversion of c/02.txt",
                   }));
    // The splits after it start a trace of their own, and only their inputs go.
    EXPECT_EQ(fs->files(), (std::vector<std::string>{"c/01.txt", "c/02.txt", "c/03.txt",
                                                    "c_out/04.trc"}));
    EXPECT_EQ(fs->file("c_out/04.trc"), trace_of_one_file(split_log("L1", 17, 4, 60, 40)));
  }
}

TEST_F(MergeSplits, ATraceThatCannotBeNamedFailsEverySplitInIt) {
  add_five_splits();
  fs->fail_rename.insert("c_out/01.trc");
  EXPECT_EQ(run({"c"}), 8);
  EXPECT_EQ(log, (std::vector<std::string>{
                     "E Could not rename CAN file to c_out/01.trc",
                     "E Error during end file callback",
                     "E Error during conversion of c/01.txt",
                     "E Error during conversion of c/02.txt",
                     "E Error during conversion of c/03.txt",
                     "E Error during conversion of c/04.txt",
                     "E Error during conversion of c/05.txt",
                 }));
  EXPECT_TRUE(traces().empty());
}

TEST_F(MergeSplits, AnInputThatCannotBeClosedStaysAndTheTraceIsWhole) {
  flags.delete_converted = true;
  add_five_splits();
  fs->fail_close.insert("c/02.txt");
  EXPECT_EQ(run({"c"}), 8);
  EXPECT_EQ(log, (std::vector<std::string>{
                     "E Could not close input file after conversion: c/02.txt",
                     "E Error during conversion of c/02.txt",
                 }));
  EXPECT_EQ(fs->files(), (std::vector<std::string>{"c/02.txt", "c_out/01.trc"}));
}

TEST_F(MergeSplits, AnInterruptionPublishesNothingOfTheRecordingInFlight) {
  for (bool delete_converted : {false, true}) {
    // The run asks at every frame and before every file: in the first split, the second, the
    // last.
    for (int after : {5, 45, 100}) {
      SCOPED_TRACE(std::to_string(after) + (delete_converted ? ", -d" : ""));
      flags.delete_converted = delete_converted;
      fs = std::make_unique<MemoryFolderRoot>("/data/");
      add_five_splits();
      interrupt_after = after;
      run({"c"});
      EXPECT_TRUE(job->stopped());
      std::string in_flight = after == 5 ? "01" : after == 45 ? "02" : "05";
      EXPECT_EQ(log, std::vector<std::string>{"F Interrupted: c/" + in_flight +
                                              ".txt not converted"});
      EXPECT_EQ(fs->files(), (std::vector<std::string>{"c/01.txt", "c/02.txt", "c/03.txt",
                                                      "c/04.txt", "c/05.txt"}));
    }
  }
}

TEST_F(MergeSplits, ARecordingEndsWithItsCommandLineInput) {
  fs->add_file("a/01.txt", split_log("L1", 1, 1, 0, 5));
  fs->add_file("b/02.txt", split_log("L1", 1, 2, 5, 5));
  EXPECT_EQ(run({"a", "b"}), 0);
  EXPECT_EQ(traces(), (std::vector<std::string>{"a_out/01.trc", "b_out/02.trc"}));
}

}  // namespace
}  // namespace velmarch
