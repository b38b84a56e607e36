// The kernel itself refuses the trace: a file size limit makes write fail with EFBIG.

#include <cstdio>

#include "e2e_harness.h"

namespace e2e {
namespace {

// n frames, 7 ms apart, from 11:05:53.000 on.
std::string log_of(int n) {
  std::vector<std::string> lines;
  for (int i = 0; i < n; ++i) {
    int ms = 53000 + 7 * i;
    char line[80];
    std::snprintf(line, sizeof line, "11:%02d:%02d.%03d;0;%X;8;1122334455667788", 5 + ms / 60000,
                  ms / 1000 % 60, ms % 1000, 0x100 + i % 0x600);
    lines.push_back(line);
  }
  return text_log(1, 1, lines);
}

using DiskFull = Scratch;

TEST_F(DiskFull, RefusedWriteFailsTheFileKeepsTheInputAndLeavesNoTrace) {
  if (under_wine()) GTEST_SKIP() << "a POSIX file size limit";
  struct Case {
    const char* name;
    std::string format;
    int frames;
    std::vector<std::string> log;
  } cases[] = {
      // Past the first 256 KiB block the write itself fails: 2.1 has no message of its own.
      {"records, 2.1", "version2", 6000, {"E Error during conversion of a.txt"}},
      {"records, 1.1",
       "version1",
       6000,
       {"E Could not write CAN data", "E Error during conversion of a.txt"}},
      // A trace that fits one block reaches the disk only when it is closed.
      {"close",
       "version2",
       20,
       {"E Could not close CAN file", "E Error during end file callback",
        "E Error during conversion of a.txt"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    write("a.txt", log_of(c.frames));
    RunResult result = run({"-d", "-f", c.format, "a.txt"}, 1000);
    EXPECT_EQ(result.status, 8);
    EXPECT_EQ(result.log, c.log) << result.raw_err;
    EXPECT_EQ(read("a.txt"), log_of(c.frames));
    EXPECT_FALSE(exists("a.trc"));
  }
  // The same inputs convert without the limit.
  ASSERT_EQ(run({"-d", "a.txt"}).status, 0);
  EXPECT_TRUE(exists("a.trc"));
  EXPECT_FALSE(exists("a.txt"));
}

}  // namespace
}  // namespace e2e
