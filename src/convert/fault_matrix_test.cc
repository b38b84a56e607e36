// Whole runs over the in-memory tree with one fault injected each: the messages in order, the
// status, the input still there although --delete-converted is set, and no trace that could
// pass for a whole one.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "convert/conversion_job.h"
#include "testing/masked_log.h"
#include "testing/memory_folder_root.h"
#include "testing/test_data.h"
#include "trc/trc_writer.h"

namespace velmarch {
namespace {

// The frames of the writer's worked example, as a logger records them.
const char* const kLog =
    "# Logger ID: L1\n# Session No.: 1\n# Split No.: 1\n# Time: 20241017T110553\n"
    "# Value separator: \";\"\n# Time format: 3\n# Time separator: \":\"\n"
    "# Time separator ms: \".\"\n"
    "Timestamp;Type;ID;Length;Data\n"
    "11:05:53.123;0;123;8;1122334455667788\n"
    "11:05:53.135;9;18FF1234;3;010203\n"
    "11:05:54.635;0;7FF;0;\n";

const char* const kInput = "logs/a.txt";
const char* const kOutput = "logs_out/a.trc";

enum class Trace { none, whole, older };

struct Fault {
  const char* name;
  std::function<void(MemoryFolderRoot&)> inject;
  int32_t version;
  std::vector<std::string> log;  // level letter and message, in order
  int status;
  bool input_kept;
  Trace trace;
};

int64_t header_bytes(int32_t version) {
  std::string name = version == TRC_VERSION_1_1 ? "example_v1_1.trc" : "example_v2_1.trc";
  std::string full = read_test_data(name);
  return static_cast<int64_t>(full.find(version == TRC_VERSION_1_1 ? "     1)" : "      1 "));
}

TEST(FaultMatrix, EveryFaultFailsCleanlyAndKeepsTheInput) {
  const std::string failed = "E Error during conversion of logs/a.txt";
  const Fault faults[] = {
      {"output cannot be opened",
       [](MemoryFolderRoot& fs) { fs.fail_open.insert(kOutput); },
       TRC_VERSION_2_1,
       {"E Could not open output file for CAN: logs_out/a.trc", "E Error on new file", failed},
       8,
       true,
       Trace::none},
      {"disk full in the header",
       [](MemoryFolderRoot& fs) { fs.write_budget[kOutput] = 20; },
       TRC_VERSION_2_1,
       {"E Could not write CAN header", failed},
       8,
       true,
       Trace::none},
      {"disk full in the records, 2.1",
       [](MemoryFolderRoot& fs) { fs.write_budget[kOutput] = header_bytes(2) + 70; },
       TRC_VERSION_2_1,
       {failed},
       8,
       true,
       Trace::none},
      {"disk full in the records, 1.1",
       [](MemoryFolderRoot& fs) { fs.write_budget[kOutput] = header_bytes(1) + 70; },
       TRC_VERSION_1_1,
       {"E Could not write CAN data", failed},
       8,
       true,
       Trace::none},
      {"output cannot be closed",
       [](MemoryFolderRoot& fs) { fs.fail_close.insert(kOutput); },
       TRC_VERSION_2_1,
       {"E Could not close CAN file", "E Error during end file callback", failed},
       8,
       true,
       Trace::none},
      // Left behind under its temporary name, and said so.
      {"output can be neither closed nor removed",
       [](MemoryFolderRoot& fs) {
         fs.fail_close.insert(kOutput);
         fs.fail_remove.insert(kOutput);
       },
       TRC_VERSION_2_1,
       {"E Could not close CAN file", "E Could not remove CAN file",
        "E Error during end file callback", failed},
       8,
       true,
       Trace::none},
      {"input cannot be closed",
       [](MemoryFolderRoot& fs) { fs.fail_close.insert(kInput); },
       TRC_VERSION_2_1,
       {"E Could not close input file after conversion: logs/a.txt", failed},
       8,
       true,
       Trace::whole},
      // What was read before the error would pass for the whole file: it goes.
      {"input read error in the middle",
       [](MemoryFolderRoot& fs) {
         fs.fail_reads_from[kInput] = static_cast<int64_t>(std::string(kLog).find("11:05:53.135"));
       },
       TRC_VERSION_2_1,
       {"E Could not read input file logs/a.txt", failed},
       8,
       true,
       Trace::none},
      {"input cannot be removed",
       [](MemoryFolderRoot& fs) { fs.fail_remove.insert(kInput); },
       TRC_VERSION_2_1,
       {"E Could not remove input file after conversion: logs/a.txt"},
       0,
       true,
       Trace::whole},
      {"trace cannot take its name",
       [](MemoryFolderRoot& fs) { fs.fail_rename.insert(kOutput); },
       TRC_VERSION_2_1,
       {"E Could not rename CAN file to logs_out/a.trc", failed},
       8,
       true,
       Trace::none},
      {"something is at the trace's name",
       [](MemoryFolderRoot& fs) { fs.add_file(kOutput, "older"); },
       TRC_VERSION_2_1,
       {"E Trace logs_out/a.trc exists, not overwritten: remove it, or convert without -d",
        "E Error during end file callback", failed},
       8,
       true,
       Trace::older},
      {"traces cannot be flushed",
       [](MemoryFolderRoot& fs) { fs.fail_sync = true; },
       TRC_VERSION_2_1,
       {"E Could not flush CAN file logs_out/a.trc to disk", failed},
       8,
       true,
       Trace::none},
      {"input changes during the conversion",
       [](MemoryFolderRoot& fs) {
         fs.on_open_for_reading = [&fs](const std::string& path) { fs.append(path, "\n"); };
       },
       TRC_VERSION_2_1,
       {"E Input changed during conversion, not removed: logs/a.txt", failed},
       8,
       true,
       Trace::whole},
      {"folder cannot be listed",
       [](MemoryFolderRoot& fs) { fs.fail_list.insert("logs"); },
       TRC_VERSION_2_1,
       {"E Could not list folder logs"},
       129,
       true,
       Trace::none},
  };
  for (const Fault& fault : faults) {
    SCOPED_TRACE(fault.name);
    MemoryFolderRoot fs("/data/");
    fs.add_file(kInput, kLog);
    fault.inject(fs);
    ConversionFlags flags;
    flags.delete_converted = true;
    auto writer = trc_writer_create(fault.version);
    auto job = job_create(&fs, &fs, &flags, writer.get());
    ASSERT_TRUE(job);

    testing::internal::CaptureStderr();
    int status = job_run(*job, StringList{SmallString(StrView("logs"))}).value();
    std::vector<std::string> log = masked_log(testing::internal::GetCapturedStderr());

    EXPECT_EQ(log, fault.log);
    EXPECT_EQ(status, fault.status);
    EXPECT_EQ(fs.has_file(kInput), fault.input_kept);
    std::string whole =
        read_test_data(fault.version == TRC_VERSION_1_1 ? "example_v1_1.trc" : "example_v2_1.trc");
    switch (fault.trace) {
      case Trace::none:
        EXPECT_FALSE(fs.has_file(kOutput)) << fs.file(kOutput);
        break;
      case Trace::whole:
        EXPECT_EQ(fs.file(kOutput), whole);
        break;
      case Trace::older:
        EXPECT_EQ(fs.file(kOutput), "older");
        break;
    }
  }
}

}  // namespace
}  // namespace velmarch
