// --report over the in-memory tree: an entry per input in walk order whatever the jobs, each
// written once nothing can change it (-d's commit, the end of its recording), and the reason of
// a failure in the words its lines used.

#include "convert/run_report.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "convert/conversion_job.h"
#include "testing/job_runs.h"
#include "testing/memory_folder_root.h"
#include "testing/memory_stream.h"
#include "testing/text_logs.h"
#include "trc/trc_writer.h"

namespace velmarch {
namespace {

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The raw JSON value of a field of one line: "\"converted\"", "12", "null".
std::string field(const std::string& line, const std::string& name) {
  size_t at = line.find("\"" + name + "\":");
  if (at == std::string::npos) return "(absent)";
  at += name.size() + 3;
  size_t end = at;
  if (line[at] == '"') {
    for (end = at + 1; line[end] != '"'; ++end) {
      if (line[end] == '\\') ++end;
    }
    ++end;
  } else {
    end = line.find_first_of(",}", at);
  }
  return line.substr(at, end - at);
}

ReportEntry entry_for(const std::string& input, InputOutcome outcome) {
  ReportEntry entry;
  entry.input = input;
  entry.outcome = outcome;
  return entry;
}

TEST(RunReport, HeldEntriesWaitAndTheSummaryCountsWhatWasWritten) {
  MemoryStream out;
  RunReport report(out);
  ReportEntry first = entry_for("/d/c/01.txt", InputOutcome::converted);
  first.output = "/d/c_out/01.trc";
  first.frames = 5;
  first.input_bytes = 100;
  size_t one = report.add(first);
  report.hold(one);  // waits for its recording
  report.release(one);
  ReportEntry second = first;
  second.input = "/d/c/02.txt";
  report.release(report.add(second));
  EXPECT_EQ(out.content(), "");  // the second waits for the first
  report.entry(one).removed = true;
  report.release(one);
  EXPECT_EQ(lines_of(out.content()).size(), 2u);
  ReportEntry failed = entry_for("/d/c/03.txt", InputOutcome::failed);
  failed.reason = "Could not parse file header";
  report.add(failed);  // still held when the run ends: written as it stands
  ASSERT_TRUE(report.finish({ExitStatus(8), 2, 1.5}));

  std::vector<std::string> lines = lines_of(out.content());
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0],
            "{\"type\":\"input\",\"input\":\"/d/c/01.txt\",\"output\":\"/d/c_out/01.trc\","
            "\"outcome\":\"converted\",\"frames\":5,\"lines_skipped\":0,\"rollovers\":0,"
            "\"implausible_rollovers\":0,\"input_bytes\":100,\"reason\":null,\"removed\":true}");
  EXPECT_EQ(field(lines[2], "reason"), "\"Could not parse file header\"");
  // Two splits of one trace count one trace; a signal's status is the shell's.
  EXPECT_EQ(lines[3],
            "{\"type\":\"summary\",\"inputs\":3,\"converted\":2,\"repeat\":0,\"passed_over\":0,"
            "\"failed\":1,\"interrupted\":0,\"traces\":1,\"frames\":10,\"input_bytes\":200,"
            "\"removed\":1,\"seconds\":1.500,\"exit_status\":130,\"signal\":\"SIGINT\"}");
}

TEST(RunReport, PathsThatAreNotUtf8KeepTheirBytesAsSurrogateEscapes) {
  MemoryStream out;
  RunReport report(out);
  report.release(report.add(entry_for("/d/\"q\"\\\t\xC3\xA9\xFF\xE2\x82.txt",
                                      InputOutcome::passed_over)));
  ASSERT_TRUE(report.finish({}));
  EXPECT_EQ(field(lines_of(out.content())[0], "input"),
            "\"/d/\\\"q\\\"\\\\\\u0009\xC3\xA9\\udcff\\udce2\\udc82.txt\"");
}

TEST(RunReport, AFailedWriteIsToldOnce) {
  MemoryStream out;
  out.write_budget = 10;
  RunReport report(out);
  report.release(report.add(entry_for("/d/a.txt", InputOutcome::repeat)));
  EXPECT_FALSE(report.finish({}));
}

int interrupt_after = -1;  // calls that answer no before the run is interrupted
int test_interruption() {
  if (interrupt_after > 0) --interrupt_after;
  return interrupt_after == 0 ? 2 : 0;
}

class ReportedRun : public ::testing::Test {
 protected:
  void SetUp() override { interrupt_after = -1; }

  // The report's lines without the summary's seconds.
  std::vector<std::string> run(const std::vector<std::string>& inputs) {
    writer = trc_writer_create(TRC_VERSION_2_1);
    job = job_create(fs.get(), fs.get(), &flags, writer.get());
    job->take_interruption_from(test_interruption);
    MemoryStream out;
    RunReport report(out);
    job->report_to(&report);
    status = job_run_logged(*job, inputs, log);
    EXPECT_TRUE(report.finish({ExitStatus(status), 0, 0}));
    return lines_of(out.content());
  }

  std::unique_ptr<MemoryFolderRoot> fs = std::make_unique<MemoryFolderRoot>("/data/");
  ConversionFlags flags;
  std::unique_ptr<TrcWriter> writer;
  std::unique_ptr<ConversionJob> job;
  std::vector<std::string> log;
  int status = 0;
};

TEST_F(ReportedRun, EveryOutcomeInWalkOrderWhateverTheJobs) {
  flags.delete_converted = true;
  std::vector<std::string> first;
  for (int jobs : {1, 3}) {
    SCOPED_TRACE(std::to_string(jobs) + " jobs");
    flags.jobs = jobs;
    fs = std::make_unique<MemoryFolderRoot>("/data/");
    fs->add_file("card/01.txt", split_log("L1", 1, 1, 0, 5));
    fs->add_file("card/01r.txt", split_log("L1", 1, 1, 0, 5));  // a repeat
    fs->add_file("card/02.txt", split_log("L1", 0, 2, 0, 4));   // a rejected header
    fs->add_file("card/03.txt", split_log("L1", 2, 1, 0, 6));
    fs->add_file("card/04.txt", split_log("L1", 3, 1, 0, 6));
    fs->fail_reads_from["card/04.txt"] = 300;                   // cut short
    fs->add_file("card/notes.md", "not a log");
    fs->add_file("card/05.txt", split_log("L1", 4, 1, 0, 3));
    fs->fail_remove.insert("card/05.txt");                      // kept by -d
    std::vector<std::string> lines = run({"card", "gone.txt"});
    if (jobs == 1) {
      first = lines;
      continue;
    }
    EXPECT_EQ(lines, first);
  }
  ASSERT_EQ(first.size(), 9u);
  struct Expected {
    const char* input;
    const char* outcome;
    const char* output;
    const char* removed;
  };
  const Expected expected[] = {
      {"card/01.txt", "converted", "\"/data/card_out/01.trc\"", "true"},
      {"card/01r.txt", "repeat", "null", "false"},
      {"card/02.txt", "failed", "null", "false"},
      {"card/03.txt", "converted", "\"/data/card_out/03.trc\"", "true"},
      {"card/04.txt", "failed", "null", "false"},
      {"card/05.txt", "converted", "\"/data/card_out/05.trc\"", "false"},
      {"card/notes.md", "passed over", "null", "false"},
      {"gone.txt", "failed", "null", "false"},
  };
  for (size_t i = 0; i < 8; ++i) {
    SCOPED_TRACE(first[i]);
    EXPECT_EQ(field(first[i], "input"), std::string("\"/data/") + expected[i].input + "\"");
    EXPECT_EQ(field(first[i], "outcome"), std::string("\"") + expected[i].outcome + "\"");
    EXPECT_EQ(field(first[i], "output"), expected[i].output);
    EXPECT_EQ(field(first[i], "removed"), expected[i].removed);
  }
  EXPECT_EQ(field(first[0], "frames"), "5");
  EXPECT_EQ(field(first[2], "reason"), "\"Could not parse file header\"");
  EXPECT_EQ(field(first[4], "reason"), "\"Could not read input file card/04.txt\"");
  EXPECT_EQ(field(first[6], "reason"), "\"not a txt file\"");
  EXPECT_EQ(field(first[7], "reason"), "\"Could not find input file/folder\"");
  EXPECT_EQ(first[8],
            "{\"type\":\"summary\",\"inputs\":8,\"converted\":3,\"repeat\":1,\"passed_over\":1,"
            "\"failed\":3,\"interrupted\":0,\"traces\":3,\"frames\":14,\"input_bytes\":" +
                field(first[8], "input_bytes") +
                ",\"removed\":2,\"seconds\":0.000,\"exit_status\":9,\"signal\":null}");
}

TEST_F(ReportedRun, SplitsWaitForTheirRecordingAndTellWhyItFailed) {
  flags.merge_splits = true;
  flags.delete_converted = true;
  for (int i = 1; i <= 4; ++i) {
    fs->add_file("c/0" + std::to_string(i) + ".txt", split_log("L1", 7, i, 20 * (i - 1), 20));
  }
  fs->fail_reads_from["c/03.txt"] = 300;
  std::vector<std::string> lines = run({"c"});
  ASSERT_EQ(lines.size(), 5u);
  const char* const outcomes[] = {"failed", "failed", "failed", "converted"};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(field(lines[i], "outcome"), std::string("\"") + outcomes[i] + "\"") << lines[i];
  }
  EXPECT_EQ(field(lines[0], "reason"),
            "\"Trace c_out/01.trc not written: a later split of its recording failed\"");
  EXPECT_EQ(field(lines[0], "output"), "null");
  EXPECT_EQ(field(lines[2], "reason"), "\"Could not read input file c/03.txt\"");
  EXPECT_EQ(field(lines[3], "output"), "\"/data/c_out/04.trc\"");
  EXPECT_EQ(field(lines[3], "removed"), "true");
}

TEST_F(ReportedRun, AnInterruptionReportsWhatHappenedUpToIt) {
  flags.merge_splits = true;
  fs->add_file("a/01.txt", split_log("L1", 1, 1, 0, 10));
  for (int i = 1; i <= 3; ++i) {
    fs->add_file("b/0" + std::to_string(i) + ".txt", split_log("L1", 2, i, 20 * (i - 1), 20));
  }
  interrupt_after = 55;  // in the second split of b
  std::vector<std::string> lines = run({"a", "b"});
  ASSERT_TRUE(job->stopped());
  // Nothing of b/03.txt, which never began.
  ASSERT_EQ(lines.size(), 4u) << ::testing::PrintToString(log);
  EXPECT_EQ(field(lines[0], "outcome"), "\"converted\"");
  EXPECT_EQ(field(lines[1], "outcome"), "\"interrupted\"");
  EXPECT_EQ(field(lines[1], "reason"), "\"the run stopped before its recording ended\"");
  EXPECT_EQ(field(lines[2], "outcome"), "\"interrupted\"");
  EXPECT_EQ(field(lines[2], "input"), "\"/data/b/02.txt\"");
  EXPECT_EQ(field(lines[3], "interrupted"), "2");
}

}  // namespace
}  // namespace velmarch
