#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "convert/conversion_job.h"
#include "testing/memory_folder_root.h"
#include "testing/recording_sink.h"
#include "testing/test_data.h"
#include "trc/trc_writer.h"

namespace velmarch {
namespace {

std::string text_log(const std::string& logger_id, int session, int split,
                     const std::vector<std::string>& lines) {
  std::string log = "# Logger ID: " + logger_id + "\n# Session No.: " + std::to_string(session) +
                    "\n# Split No.: " + std::to_string(split) +
                    "\n# Time: 20241017T110553\n# Value separator: \";\"\n# Time format: 3\n"
                    "# Time separator: \":\"\n# Time separator ms: \".\"\n"
                    "Timestamp;Type;ID;Length;Data\n";
  for (const auto& line : lines) log += line + "\n";
  return log;
}

const std::vector<std::string> frames = {"11:05:53.123;0;123;8;1122334455667788",
                                         "11:05:53.135;9;18FF1234;3;010203",
                                         "11:05:54.635;0;7FF;0;"};

class ConvertFile : public ::testing::Test {
 protected:
  void SetUp() override {
    job = job_create(&in, &out, &flags, &sink);
    ASSERT_TRUE(job);
  }

  // Converts in/<name>.txt to out/<name> and commits it, as the walk does at the end of an
  // input; answers the result and leaves the log in log_.
  int convert(const std::string& name) {
    testing::internal::CaptureStderr();
    ExitStatus result = job_convert_file(*job, name + ".txt", name);
    result |= job_commit(*job);
    log_ = testing::internal::GetCapturedStderr();
    return result.value();
  }
  bool logged(const std::string& text) const { return log_.find(text) != std::string::npos; }

  MemoryFolderRoot in{"/in/"};
  MemoryFolderRoot out{"/out/"};
  ConversionFlags flags;
  RecordingSink sink;
  std::unique_ptr<ConversionJob> job;
  std::string log_;
};

TEST_F(ConvertFile, JobNeedsEveryPart) {
  EXPECT_FALSE(job_create(nullptr, &out, &flags, &sink));
  EXPECT_FALSE(job_create(&in, nullptr, &flags, &sink));
  EXPECT_FALSE(job_create(&in, &out, nullptr, &sink));
  EXPECT_FALSE(job_create(&in, &out, &flags, nullptr));
}

TEST_F(ConvertFile, SinkSeesNewFileFramesEndFile) {
  in.add_file("a.txt", text_log("4A2B0C11", 1, 1, frames));
  EXPECT_EQ(convert("a"), 0);
  EXPECT_EQ(sink.calls, (std::vector<std::string>{"new_file a.txt continuation=0", "frame 291",
                                                  "frame 419369524", "frame 2047",
                                                  "end_file a.txt"}));
  EXPECT_TRUE(log_.empty()) << log_;
}

TEST_F(ConvertFile, RepeatsAndContinuationsFollowThePreviousFile) {
  in.add_file("s3.txt", text_log("L1", 5, 3, frames));
  in.add_file("s3b.txt", text_log("L1", 5, 3, frames));
  in.add_file("s4.txt", text_log("L1", 5, 4, frames));
  in.add_file("s6.txt", text_log("L1", 5, 6, frames));
  in.add_file("other.txt", text_log("L2", 5, 7, frames));
  flags.delete_converted = true;
  EXPECT_EQ(convert("s3"), 0);
  EXPECT_EQ(convert("s3b"), 0);
  EXPECT_TRUE(logged(" W Repeated input file (L1, 00000005, 00000003)\n"));
  EXPECT_TRUE(in.has_file("s3b.txt"));  // a repeat is never deleted
  EXPECT_EQ(convert("s4"), 0);
  EXPECT_EQ(convert("s6"), 0);
  EXPECT_EQ(convert("other"), 0);
  std::vector<std::string> starts;
  for (const auto& call : sink.calls) {
    if (call.rfind("new_file", 0) == 0) starts.push_back(call);
  }
  EXPECT_EQ(starts, (std::vector<std::string>{
                        "new_file s3.txt continuation=0", "new_file s4.txt continuation=1",
                        "new_file s6.txt continuation=0", "new_file other.txt continuation=0"}));
  EXPECT_FALSE(in.has_file("s3.txt"));
}

TEST_F(ConvertFile, MissingLoggerIdReadsAsLoggeridAndRepeats) {
  std::string no_id = "# Session No.: 2\n# Split No.: 9\n# Value separator: \";\"\nID\n1\n";
  in.add_file("x.txt", no_id);
  in.add_file("y.txt", no_id);
  EXPECT_EQ(convert("x"), 0);
  EXPECT_EQ(sink.logger_ids, std::vector<std::string>{"LOGGERID"});
  EXPECT_EQ(convert("y"), 0);
  EXPECT_TRUE(logged("Repeated input file (LOGGERID, 00000002, 00000009)"));
}

TEST_F(ConvertFile, HeaderWithoutSessionIsRejectedAndForgotten) {
  in.add_file("a.txt", text_log("L1", 5, 3, frames));
  in.add_file("zero.txt", text_log("L1", 0, 3, frames));
  in.add_file("again.txt", text_log("L1", 5, 3, frames));
  EXPECT_EQ(convert("a"), 0);
  EXPECT_EQ(convert("zero"), 8);
  EXPECT_TRUE(logged(" E Could not parse file header\n"));
  EXPECT_EQ(job->previous_file().input_path.view(), "a.txt");
  EXPECT_EQ(convert("again"), 0);
  EXPECT_TRUE(logged("Repeated input file"));
}

TEST_F(ConvertFile, FailedFileStillCountsAsPrevious) {
  in.add_file("a.txt", text_log("L1", 5, 3, frames));
  in.add_file("b.txt", text_log("L1", 5, 3, frames));
  sink.fail_new_file = true;
  EXPECT_EQ(convert("a"), 8);
  EXPECT_TRUE(logged(" E Error on new file\n"));
  EXPECT_EQ(sink.calls, std::vector<std::string>{"new_file a.txt continuation=0"});
  EXPECT_TRUE(out.files().empty());  // the output made for it is gone again
  sink.fail_new_file = false;
  EXPECT_EQ(convert("b"), 0);
  EXPECT_TRUE(logged("Repeated input file"));
}

TEST_F(ConvertFile, BaseSinkFailsEveryFile) {
  TraceSink refusing;
  auto base_job = job_create(&in, &out, &flags, &refusing);
  in.add_file("a.txt", text_log("L1", 1, 1, frames));
  testing::internal::CaptureStderr();
  EXPECT_EQ(job_convert_file(*base_job, "a.txt", "a").value(), 8);
  std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("Error on new file"), std::string::npos);
  EXPECT_TRUE(out.files().empty());
}

TEST_F(ConvertFile, FrameRefusalStopsTheFrames) {
  in.add_file("a.txt", text_log("L1", 1, 1, frames));
  sink.fail_frame_after = 0;
  flags.delete_converted = true;
  EXPECT_EQ(convert("a"), 8);
  EXPECT_EQ(sink.calls,
            (std::vector<std::string>{"new_file a.txt continuation=0", "frame 291", "end_file a.txt"}));
  EXPECT_TRUE(in.has_file("a.txt"));
}

TEST_F(ConvertFile, EveryBufferSizeReadsTheSame) {
  in.add_file("a.txt", text_log("L1", 1, 1, frames));
  for (int64_t size : {-1, 0, 1, 7, 64, 100000}) {
    flags.buffer_size = size;
    sink.calls.clear();
    job->forget_previous_file();
    EXPECT_EQ(convert("a"), 0) << size;
    EXPECT_EQ(sink.calls.size(), 5u) << size;
  }
}

TEST_F(ConvertFile, InputFailures) {
  flags.delete_converted = true;
  EXPECT_EQ(convert("missing"), 8);
  EXPECT_TRUE(logged(" E Could not open input file missing.txt\n"));

  in.add_file("plain.txt", "Timestamp;ID\n");
  EXPECT_EQ(convert("plain"), 8);
  EXPECT_TRUE(logged(" E Could not open log\n"));

  in.add_file("noclose.txt", text_log("L1", 1, 1, frames));
  in.fail_close.insert("noclose.txt");
  EXPECT_EQ(convert("noclose"), 8);
  EXPECT_TRUE(logged(" E Could not close input file after conversion: noclose.txt\n"));
  EXPECT_TRUE(in.has_file("noclose.txt"));

  in.add_file("stuck.txt", text_log("L1", 2, 1, frames));
  in.fail_remove.insert("stuck.txt");
  EXPECT_EQ(convert("stuck"), 0);
  EXPECT_TRUE(logged(" E Could not remove input file after conversion: stuck.txt\n"));
}

TEST_F(ConvertFile, ReadErrorFailsTheFileAndKeepsTheInput) {
  std::string content = text_log("L1", 1, 1, frames);
  in.add_file("a.txt", content);
  in.fail_reads_from["a.txt"] = static_cast<int64_t>(content.size() - 10);
  flags.delete_converted = true;
  for (int64_t size : {-1, 0, 16}) {
    flags.buffer_size = size;
    job->forget_previous_file();
    EXPECT_EQ(convert("a"), 8) << size;
    EXPECT_TRUE(logged(" E Could not read input file a.txt\n")) << size;
    EXPECT_TRUE(in.has_file("a.txt"));
  }
}

class ConvertToTrc : public ConvertFile {
 protected:
  void SetUp() override {
    writer = trc_writer_create(TRC_VERSION_2_1);
    job = job_create(&in, &out, &flags, writer.get());
    in.add_file("a.txt", text_log("L1", 1, 1, frames));
    flags.delete_converted = true;
  }
  std::unique_ptr<TrcWriter> writer;
};

TEST_F(ConvertToTrc, ConvertsAndDeletesTheInput) {
  EXPECT_EQ(convert("a"), 0);
  EXPECT_EQ(out.file("a.trc"), read_test_data("example_v2_1.trc"));
  EXPECT_FALSE(in.has_file("a.txt"));
}

TEST_F(ConvertToTrc, WriterFailuresKeepTheInput) {
  out.fail_open.insert("a.trc");
  EXPECT_EQ(convert("a"), 8);
  EXPECT_TRUE(logged("Could not open output file for CAN: a.trc"));
  EXPECT_TRUE(logged("Error on new file"));
  EXPECT_TRUE(in.has_file("a.txt"));

  out.fail_open.clear();
  out.write_budget["a.trc"] = 20;
  job->forget_previous_file();
  EXPECT_EQ(convert("a"), 8);
  EXPECT_TRUE(logged("Could not write CAN header"));
  EXPECT_FALSE(out.has_file("a.trc"));
  EXPECT_TRUE(in.has_file("a.txt"));

  out.write_budget["a.trc"] = 100;
  job->forget_previous_file();
  EXPECT_EQ(convert("a"), 8);
  EXPECT_FALSE(out.has_file("a.trc"));  // a cut trace is not left behind
  EXPECT_TRUE(in.has_file("a.txt"));

  out.write_budget.clear();
  out.fail_close.insert("a.trc");
  job->forget_previous_file();
  EXPECT_EQ(convert("a"), 8);
  EXPECT_TRUE(logged("Could not close CAN file"));
  EXPECT_TRUE(logged("Error during end file callback"));
  EXPECT_FALSE(out.has_file("a.trc"));
  EXPECT_TRUE(in.has_file("a.txt"));
}

}  // namespace
}  // namespace velmarch
