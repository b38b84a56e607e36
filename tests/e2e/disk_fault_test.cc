// The kernel itself refuses the trace: a file size limit makes write fail with EFBIG.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

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
      // Past the first 256 KiB block the write itself fails: 2.1 has no message of its own, but
      // the reason still shows at the default verbosity.
      {"records, 2.1",
       "version2",
       6000,
       {"E Reason: File too large", "E Error during conversion of a.txt"}},
      {"records, 1.1",
       "version1",
       6000,
       {"E Could not write CAN data", "E Reason: File too large",
        "E Error during conversion of a.txt"}},
      // A trace that fits one block reaches the disk only when it is closed.
      {"close",
       "version2",
       20,
       {"E Could not close CAN file", "E Reason: File too large",
        "E Error during end file callback", "E Error during conversion of a.txt"}},
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

// A small file system of its own, mounted on a folder of the scratch folder: one that fills up,
// or one that is read-only. Only root can mount one, and wine has none of this.
class MountedFileSystem : public Scratch {
 protected:
  bool mount_tmpfs(const std::string& folder, const std::string& options) {
    if (under_wine() || geteuid() != 0) return false;
    mkdir(folder);
    std::string command =
        "mount -t tmpfs -o " + options + " velmarch-test '" + path(folder) + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0) return false;
    mounted_.push_back(path(folder));
    return true;
  }
  void TearDown() override {
    for (const std::string& folder : mounted_) {
      EXPECT_EQ(std::system(("umount '" + folder + "'").c_str()), 0) << folder;
    }
    Scratch::TearDown();
  }

 private:
  std::vector<std::string> mounted_;
};

TEST_F(MountedFileSystem, AFullDiskNamesItselfAtTheDefaultVerbosity) {
  if (!mount_tmpfs("full", "size=64k")) GTEST_SKIP() << "no file system can be mounted here";
  write("big.txt", log_of(6000));  // a trace of some 400 KB
  struct Case {
    const char* format;
    std::vector<std::string> log;
  } cases[] = {
      {"version2", {"E Reason: No space left on device", "E Error during conversion of big.txt"}},
      {"version1",
       {"E Could not write CAN data", "E Reason: No space left on device",
        "E Error during conversion of big.txt"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    RunResult result = run({"-d", "-f", c.format, "-O", "full", "big.txt"});
    EXPECT_EQ(result.status, 8);
    EXPECT_EQ(result.log, c.log) << result.raw_err;
    EXPECT_EQ(read("big.txt"), log_of(6000));
    EXPECT_EQ(tree(), (std::vector<std::string>{"big.txt", "full/"}));
  }
}

TEST_F(MountedFileSystem, AReadOnlyOutputSaysSo) {
  if (!mount_tmpfs("ro", "size=64k,ro")) GTEST_SKIP() << "no file system can be mounted here";
  write("card/a.txt", log_of(3));
  // A folder's output folder cannot be made: that is the failure, not the file it would hold.
  RunResult result = run({"-O", "ro", "card"});
  EXPECT_EQ(result.status, 8);
  EXPECT_EQ(result.log, (std::vector<std::string>{"E Could not create output folder card_out",
                                                  "E Reason: Read-only file system",
                                                  "E Error during conversion of card/a.txt"}))
      << result.raw_err;
  result = run({"-O", "ro", "card/a.txt"});
  EXPECT_EQ(result.status, 8);
  EXPECT_EQ(result.log, (std::vector<std::string>{"E Could not open output file for CAN: a.trc",
                                                  "E Reason: Read-only file system",
                                                  "E Error on new file",
                                                  "E Error during conversion of a.txt"}))
      << result.raw_err;
  EXPECT_TRUE(exists("card/a.txt"));
}

}  // namespace
}  // namespace e2e
