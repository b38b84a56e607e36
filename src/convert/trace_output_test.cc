// One file's output through the steps the job takes it: made hidden, written, then named,
// staged for -d's commit or removed, whatever the format.

#include "convert/trace_output.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/memory_folder_root.h"
#include "testing/test_frames.h"
#include "testing/test_data.h"
#include "trc/trc_writer.h"

namespace velmarch {
namespace {

class TraceOutput : public ::testing::Test {
 protected:
  void SetUp() override {
    writer = trc_writer_create(TRC_VERSION_1_1);
    job = job_create(&root, &root, &flags, writer.get());
  }

  // Takes one file through the output's steps as the job does; answers whether it ended and
  // was published cleanly, and leaves the log in log_.
  bool convert(FileTask& task, const std::vector<CanRecord>& frames) {
    testing::internal::CaptureStderr();
    bool ok = output_open(*job, task);
    for (const auto& record : frames) {
      if (!ok || !task.sink->frame(record)) break;
    }
    bool ended = output_end(task, true);
    bool published = output_publish(*job, task, false);
    log_ = testing::internal::GetCapturedStderr();
    return ended && published;
  }
  std::unique_ptr<FileTask> task_for(const std::string& output, bool durable = false) {
    auto task = std::make_unique<FileTask>(output + ".txt", output, false);
    task->durable = durable;
    task->sink = writer.get();
    return task;
  }
  bool logged(const std::string& text) const { return log_.find(text) != std::string::npos; }

  MemoryFolderRoot root;
  ConversionFlags flags;
  std::unique_ptr<TrcWriter> writer;
  std::unique_ptr<ConversionJob> job;
  std::string log_;
};

TEST_F(TraceOutput, WholeTraceReplacesWhatIsAtItsName) {
  root.add_file("run.trc", "old content that is longer than the new one, by far, really\n");
  auto task = task_for("run");
  EXPECT_TRUE(convert(*task, worked_example()));
  EXPECT_EQ(task->output_state, OutputState::named);
  EXPECT_EQ(root.file("run.trc"), read_test_data("example_v1_1.trc"));
  EXPECT_EQ(root.files(), std::vector<std::string>{"run.trc"});
}

TEST_F(TraceOutput, OutputWithoutFramesIsRemoved) {
  auto task = task_for("empty");
  EXPECT_TRUE(convert(*task, {}));
  EXPECT_FALSE(task->output_kept());
  EXPECT_TRUE(root.files().empty());  // its temporary file went too
}

// The trace waits, hidden and whole, for the commit that gives it its name.
TEST_F(TraceOutput, DurableTraceIsStagedUnderItsHiddenName) {
  auto task = task_for("run", true);
  EXPECT_TRUE(convert(*task, worked_example()));
  EXPECT_EQ(task->output_state, OutputState::staged);
  EXPECT_FALSE(root.has_file("run.trc"));
  ASSERT_EQ(root.files().size(), 1u);
  EXPECT_EQ(final_path_of(root.files()[0]).view(), "run.trc");
  // An input kept: the trace is published all the same.
  job->durable_commit().queue(*job, *task, {pending_input_of(*task, true)});
  ASSERT_EQ(job->durable_commit().waiting(), 1u);
  EXPECT_EQ(job_commit(*job), EXIT_OK);
  EXPECT_EQ(root.file("run.trc"), read_test_data("example_v1_1.trc"));
  EXPECT_EQ(root.files(), std::vector<std::string>{"run.trc"});
}

// A failed trace leaves its name empty, as writing in place would have, unless its input is to
// be deleted: then whatever is there stays.
TEST_F(TraceOutput, FailedTraceLeavesItsNameAsBeforeOnlyWhenDurable) {
  for (bool durable : {false, true}) {
    root.add_file("x.trc", "an older trace\n");
    root.write_budget["x.trc"] = 10;
    auto task = task_for("x", durable);
    EXPECT_TRUE(convert(*task, worked_example()));
    EXPECT_TRUE(logged(" E Could not write CAN header\n"));
    EXPECT_EQ(root.has_file("x.trc"), durable);
    EXPECT_EQ(root.files().size(), durable ? 1u : 0u);  // no temporary file left
  }
}

TEST_F(TraceOutput, FailuresAreToldAndLeaveNothingBehind) {
  struct Case {
    const char* name;
    std::function<void(MemoryFolderRoot&)> fault;
    std::string message;
    bool ended;
  } cases[] = {
      {"cannot take its name", [](MemoryFolderRoot& fs) { fs.fail_rename.insert("x.trc"); },
       " E Could not rename CAN file to x.trc\n", false},
      {"cut short", [](MemoryFolderRoot& fs) { fs.write_budget["x.trc"] = 100; },
       " E Could not write CAN data\n", true},  // the frame already said the file failed
      {"cannot be closed", [](MemoryFolderRoot& fs) { fs.fail_close.insert("x.trc"); },
       " E Could not close CAN file\n", false},
      {"cut short and cannot be removed",
       [](MemoryFolderRoot& fs) {
         fs.write_budget["x.trc"] = 100;
         fs.fail_remove.insert("x.trc");
       },
       " E Could not remove CAN file\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    root = MemoryFolderRoot();
    c.fault(root);
    auto task = task_for("x");
    EXPECT_EQ(convert(*task, worked_example()), c.ended);
    EXPECT_TRUE(logged(c.message)) << log_;
    EXPECT_FALSE(root.has_file("x.trc"));
    bool left = !root.fail_remove.empty();
    EXPECT_EQ(root.files().size(), left ? 1u : 0u) << "left behind under its hidden name";
  }
}

TEST_F(TraceOutput, OpenFailureTouchesNothingOnDisk) {
  root.add_file("locked.trc", "somebody else's file");
  root.fail_open.insert("locked.trc");
  auto task = task_for("locked");
  EXPECT_TRUE(convert(*task, worked_example()));  // nothing to end or publish
  EXPECT_TRUE(logged(" E Could not open output file for CAN: locked.trc\n"));
  EXPECT_EQ(task->output_state, OutputState::none);
  EXPECT_TRUE(root.files_removed.empty());
  EXPECT_EQ(root.file("locked.trc"), "somebody else's file");
}

TEST_F(TraceOutput, InterruptedWholeTraceGoesInTurn) {
  auto task = task_for("x");
  task->name_shared = true;  // so that it waits for its turn
  testing::internal::CaptureStderr();
  ASSERT_TRUE(output_open(*job, *task));
  for (const auto& record : worked_example()) ASSERT_TRUE(task->sink->frame(record));
  ASSERT_TRUE(output_end(*task, true));
  EXPECT_EQ(task->output_state, OutputState::whole);
  EXPECT_TRUE(output_publish(*job, *task, true));
  testing::internal::GetCapturedStderr();
  EXPECT_TRUE(root.files().empty());
}

}  // namespace
}  // namespace velmarch
