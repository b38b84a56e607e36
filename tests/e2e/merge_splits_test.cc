// --merge-splits with the built binary: in every format a recording's trace is the trace of one
// file holding all its splits, and a signal early or late in a recording publishes no part of
// it and deletes nothing.

#include <signal.h>
#include <sys/stat.h>

#include <map>
#include <sstream>

#include "e2e_harness.h"
#include "every_format.h"

namespace e2e {
namespace {

// Frames `from` to `from + count - 1`, 1 ms apart from 11:00:00.
std::string records(int from, int count) {
  std::ostringstream lines;
  for (int i = from; i < from + count; ++i) {
    char line[64];
    std::snprintf(line, sizeof line, "%02d:%02d:%02d.%03d;%d;%X;8;1122334455667788\n",
                  11 + i / 3600000, i / 60000 % 60, i / 1000 % 60, i % 1000, i % 2 == 0 ? 0 : 9,
                  0x100 + i % 0x600);
    lines << line;
  }
  return lines.str();
}

// A card: recordings of one, two and five splits, the last with a gap after its third.
const std::map<std::string, std::vector<int>> CARD = {
    {"01", {1, 1}}, {"02", {2, 1}}, {"03", {2, 2}}, {"04", {3, 1}},
    {"05", {3, 2}}, {"06", {3, 3}}, {"07", {3, 5}}, {"08", {3, 6}},
};
constexpr int SPLIT_FRAMES = 300;

class MergeSplits : public Scratch, public ::testing::WithParamInterface<TraceFormatCase> {
 protected:
  void write_card() {
    for (const auto& [name, numbers] : CARD) {
      int split = numbers[1];
      write("card/" + name + ".txt", text_log(numbers[0], split, {}) +
                                         records((split - 1) * SPLIT_FRAMES, SPLIT_FRAMES));
    }
  }

  // The traces of files that each hold the frames of a recording, by the name of its first
  // split: session, first and last split.
  std::map<std::string, std::string> traces_of_one_file_each(
      const std::map<std::string, std::vector<int>>& recordings) {
    for (const auto& [name, numbers] : recordings) {
      write("one/" + name + ".txt", text_log(numbers[0], numbers[1], {}) +
                                        records((numbers[1] - 1) * SPLIT_FRAMES,
                                                (numbers[2] - numbers[1] + 1) * SPLIT_FRAMES));
    }
    RunResult result = run({"-f", GetParam().name, "one"});
    EXPECT_EQ(result.status, 0) << result.raw_err;
    std::map<std::string, std::string> traces;
    for (const auto& [name, numbers] : recordings) {
      traces[name] = read("one_out/" + name + GetParam().extension);
    }
    return traces;
  }
};

TEST_P(MergeSplits, ARecordingsTraceIsTheTraceOfOneFileHoldingEverySplit) {
  const std::string extension = GetParam().extension;
  write_card();
  // One file per recording, with its first split's header: what each merged trace must equal.
  const std::map<std::string, std::string> expected = traces_of_one_file_each(
      {{"01", {1, 1, 1}}, {"02", {2, 1, 2}}, {"04", {3, 1, 3}}, {"07", {3, 5, 6}}});
  RunResult result = run({"-m", "-f", GetParam().name, "card"});
  EXPECT_EQ(result.status, 0) << result.raw_err;
  EXPECT_TRUE(result.log.empty()) << result.raw_err;
  std::vector<std::string> traces, expected_traces;
  for (const auto& entry : tree()) {
    if (entry.rfind("card_out/", 0) == 0 && entry != "card_out/") traces.push_back(entry);
  }
  for (const auto& [name, trace] : expected) {
    std::string path = "card_out/" + name;
    path += extension;
    expected_traces.push_back(path);
    EXPECT_TRUE(read(path) == trace) << name << " differs";
  }
  EXPECT_EQ(traces, expected_traces);
}

INSTANTIATE_TEST_SUITE_P(Format, MergeSplits, ::testing::ValuesIn(EVERY_FORMAT),
                         format_case_name);

class InterruptedRecording : public Scratch {
 protected:
  void SetUp() override {
    Scratch::SetUp();
    if (under_wine()) GTEST_SKIP() << "POSIX signals";
  }

  off_t temporary_size() const {
    off_t largest = -1;
    for (const auto& entry : tree()) {
      struct stat info {};
      if (entry.find("/.") != std::string::npos &&
          ::stat(path(entry).c_str(), &info) == 0 && info.st_size > largest) {
        largest = info.st_size;
      }
    }
    return largest;
  }
};

TEST_F(InterruptedRecording, EachSignalEarlyAndLatePublishesNoPartAndDeletesNothing) {
  constexpr int FRAMES = 40000;
  std::map<std::string, std::string> inputs;
  for (int split = 1; split <= 5; ++split) {
    std::string name = "card/0" + std::to_string(split) + ".txt";
    inputs[name] = text_log(1, split, {}) + records((split - 1) * FRAMES, FRAMES);
    write(name, inputs[name]);
  }
  ASSERT_EQ(run({"-m", "card"}).status, 0);
  const off_t whole = static_cast<off_t>(read("card_out/01.trc").size());
  std::remove(path("card_out/01.trc").c_str());

  // Each signal early and late, with -d in half of the runs, early and late: the signals
  // differ only in how the run ends, which the tests of single files cover with -d too.
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    for (bool late : {false, true}) {
      bool delete_converted = (signal_number + late) % 2 == 1;
      SCOPED_TRACE(std::string(strsignal(signal_number)) + (late ? ", late" : ", early") +
                   (delete_converted ? ", -d" : ""));
      std::vector<std::string> arguments = {"-m", "--buffer", "65536", "card"};
      if (delete_converted) arguments.insert(arguments.begin(), "-d");
      Started started = start(arguments);
      // Late: past half of the trace, in the third split or after.
      ASSERT_TRUE(stop_when(started, [&] {
        return late ? temporary_size() > whole / 2 : temporary_size() >= 0;
      }));
      kill(started.pid, signal_number);
      kill(started.pid, SIGCONT);
      RunResult result = finish(started);
      EXPECT_EQ(result.status, 256 + signal_number);
      ASSERT_EQ(result.log.size(), 1u);
      // The run goes on a little before it stands still: early is in the first splits.
      ASSERT_EQ(result.log[0].rfind("F Interrupted: card/0", 0), 0u) << result.log[0];
      const char split = result.log[0][21];
      EXPECT_TRUE(late ? split >= '3' : split <= '3') << result.log[0];
      std::vector<std::string> left = {"card/", "card_out/"};
      for (const auto& [name, content] : inputs) {
        left.push_back(name);
        EXPECT_TRUE(read(name) == content) << name << " changed";
      }
      std::sort(left.begin(), left.end());
      EXPECT_EQ(tree(), left);
    }
  }
}

}  // namespace
}  // namespace e2e
