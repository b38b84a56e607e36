// -d deletes an input only when nothing can be lost; traces take their input's permissions and
// replace, never follow, what is at their name.

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "e2e_harness.h"
#include "every_format.h"

namespace e2e {
namespace {

const std::string kFrame = "11:05:53.123;0;123;8;1122334455667788";

mode_t mode_of(const std::string& file) {
  struct stat info {};
  return lstat(file.c_str(), &info) == 0 ? info.st_mode : 0;
}

class DeleteSafety : public Scratch {
 protected:
  // The trace a run without -d makes of one log, named name.
  std::string trace_of(const std::string& log) {
    write("ref/x.txt", log);
    RunResult result = run({"ref/x.txt"});
    EXPECT_EQ(result.status, 0);
    std::string trace = read("ref/x.trc");
    std::filesystem::remove_all(path("ref"));
    return trace;
  }

  // Stops the run while it reads the file (it has it open and has read a part), lets change()
  // act, and lets the run finish.
  RunResult change_while_read(const std::vector<std::string>& arguments, const std::string& file,
                              const std::function<void()>& change) {
    Started started = start(arguments);
    std::string target = path(file);
    std::string process = "/proc/" + std::to_string(started.pid);
    bool stopped = stop_when(started, [&] {
      std::error_code ignored;
      for (const auto& fd : std::filesystem::directory_iterator(process + "/fd", ignored)) {
        if (std::filesystem::read_symlink(fd.path(), ignored).string() != target) continue;
        std::ifstream info(process + "/fdinfo/" + fd.path().filename().string());
        std::string label;
        long long position = 0;
        info >> label >> position;  // "pos: N"
        return position > 0;
      }
      return false;
    });
    EXPECT_TRUE(stopped) << "the run never had " << file << " open";
    if (stopped) change();
    kill(started.pid, SIGCONT);
    return finish(started);
  }
};

TEST_F(DeleteSafety, InputWithoutFramesIsKept) {
  write("logs/empty.txt", text_log(1, 1, {}));
  RunResult result = run({"-d", "logs"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.log,
            std::vector<std::string>{"W No frames converted from logs/empty.txt, input kept"});
  EXPECT_EQ(tree(), (std::vector<std::string>{"logs/", "logs/empty.txt", "logs_out/"}));
}

// A second card's 00000001.TXT must not take the place of the first card's trace, whose input
// is long gone; nor may two inputs of one run share a trace.
TEST_F(DeleteSafety, TraceIsNeverPublishedOverAnother) {
  write("archive/00000001.trc", "first card\n");
  write("card/00000001.TXT", text_log(1, 1, {kFrame}));
  RunResult result = run({"-d", "-O", "archive", "card/00000001.TXT"});
  EXPECT_EQ(result.status, 8);
  EXPECT_EQ(result.log, (std::vector<std::string>{"E Trace 00000001.trc exists, not overwritten: "
                                                  "remove it, or convert without -d",
                                                  "E Error during end file callback",
                                                  "E Error during conversion of 00000001.TXT"}));
  EXPECT_EQ(read("archive/00000001.trc"), "first card\n");
  EXPECT_TRUE(exists("card/00000001.TXT"));

  write("logs/a.TXT", text_log(1, 1, {kFrame}));
  write("logs/a.txt", text_log(2, 1, {kFrame}));
  result = run({"-d", "logs"});
  EXPECT_EQ(result.status, 8);
  EXPECT_EQ(result.log, (std::vector<std::string>{"E Trace logs_out/a.trc exists, not overwritten: "
                                                  "remove it, or convert without -d",
                                                  "E Error during end file callback",
                                                  "E Error during conversion of logs/a.txt"}));
  EXPECT_FALSE(exists("logs/a.TXT"));
  EXPECT_TRUE(exists("logs/a.txt"));
  EXPECT_EQ(read("logs_out/a.trc"), trace_of(text_log(1, 1, {kFrame})));
}

TEST_F(DeleteSafety, InputReachedThroughALinkIsConvertedButKept) {
  if (under_wine()) GTEST_SKIP() << "Windows here has no symbolic links";
  write("elsewhere/x.txt", text_log(1, 1, {kFrame}));
  write("real.txt", text_log(2, 1, {kFrame}));
  mkdir("logs");
  ASSERT_EQ(symlink("../elsewhere", path("logs/ext").c_str()), 0);
  ASSERT_EQ(symlink("../real.txt", path("logs/l.txt").c_str()), 0);
  RunResult result = run({"-d", "logs"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.log,
            (std::vector<std::string>{"W Not removing logs/ext/x.txt: reached through a link",
                                      "W Not removing logs/l.txt: reached through a link"}));
  EXPECT_TRUE(exists("elsewhere/x.txt"));
  EXPECT_TRUE(exists("real.txt"));
  EXPECT_TRUE(exists("logs_out/ext/x.trc"));
  EXPECT_TRUE(exists("logs_out/l.trc"));

  // A linked folder named as the input is a link below the common root too.
  std::filesystem::remove_all(path("logs_out"));
  result = run({"-d", "logs/ext"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.log,
            std::vector<std::string>{"W Not removing ext/x.txt: reached through a link"});
  EXPECT_TRUE(exists("elsewhere/x.txt"));
}

TEST_F(DeleteSafety, InputThatGrowsOrIsReplacedMeanwhileIsKept) {
  if (under_wine()) GTEST_SKIP() << "finds the open input through /proc";
  std::string log = text_log(1, 1, std::vector<std::string>(50000, kFrame));
  write("logs/a.txt", log);
  RunResult result = change_while_read({"-d", "--buffer", "4096", "logs"}, "logs/a.txt", [&] {
    std::ofstream(path("logs/a.txt"), std::ios::app) << kFrame << "\n";
  });
  EXPECT_EQ(result.status, 8);
  EXPECT_EQ(result.log,
            (std::vector<std::string>{"E Input changed during conversion, not removed: logs/a.txt",
                                      "E Error during conversion of logs/a.txt"}));
  EXPECT_TRUE(read("logs/a.txt") == log + kFrame + "\n");
  EXPECT_TRUE(exists("logs_out/a.trc"));

  std::filesystem::remove_all(path("logs_out"));
  write("logs/a.txt", log);
  result = change_while_read({"-d", "--buffer", "4096", "logs"}, "logs/a.txt", [&] {
    write("newer.txt", "a newer upload\n");
    std::rename(path("newer.txt").c_str(), path("logs/a.txt").c_str());
  });
  EXPECT_EQ(result.status, 8);
  EXPECT_EQ(read("logs/a.txt"), "a newer upload\n");
}

TEST_F(DeleteSafety, LinkAtTheTraceNameIsReplacedNotFollowed) {
  if (under_wine()) GTEST_SKIP() << "Windows here has no symbolic links";
  write("victim", "keep me\n");
  write("logs/a.txt", text_log(1, 1, {kFrame}));
  mkdir("logs_out");
  ASSERT_EQ(symlink("../victim", path("logs_out/a.trc").c_str()), 0);
  RunResult result = run({"logs"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(read("victim"), "keep me\n");
  EXPECT_TRUE(S_ISREG(mode_of(path("logs_out/a.trc"))));

  // With -d a link there is something at the name: nothing is written, nothing deleted.
  std::remove(path("logs_out/a.trc").c_str());
  ASSERT_EQ(symlink("../victim", path("logs_out/a.trc").c_str()), 0);
  result = run({"-d", "logs"});
  EXPECT_EQ(result.status, 8);
  EXPECT_EQ(read("victim"), "keep me\n");
  EXPECT_TRUE(exists("logs/a.txt"));
}

// The order of the calls that make -d safe, on the real file system: each trace's data is
// flushed before it takes its name, the name is flushed before the input goes.
TEST_F(DeleteSafety, TraceIsDurableBeforeItsInputGoes) {
  if (access("/usr/bin/strace", X_OK) != 0) GTEST_SKIP() << "strace is not installed";
  if (std::getenv("VELMARCH_E2E_WRAPPER") != nullptr) GTEST_SKIP() << "runs under a wrapper";
  write("logs/a.txt", text_log(1, 1, {kFrame}));
  write("logs/b.txt", text_log(2, 1, {kFrame}));

  std::string trace_file = path("strace.out");
  std::string command = "cd " + dir_ + " && /usr/bin/strace -f -qq -s 4096 -o " + trace_file +
                        " -e trace=syncfs,fsync,fdatasync,rename,renameat,renameat2,unlink," +
                        "unlinkat " + VELMARCH_BINARY + " -d logs 2>/dev/null";
  if (std::system(command.c_str()) != 0) GTEST_SKIP() << "strace cannot trace here";
  std::ifstream in(trace_file);
  std::vector<std::string> calls;
  for (std::string pid, rest; in >> pid && std::getline(in, rest);) {
    size_t start = rest.find_first_not_of(' ');
    size_t paren = rest.find('(');
    if (start == std::string::npos || paren == std::string::npos) continue;
    std::string call = rest.substr(start, paren - start);
    // Only what the run does to its own files: a sanitizer's runtime removes files of its own.
    if (call.rfind("unlink", 0) == 0 && rest.find(dir_) == std::string::npos) continue;
    calls.push_back(call == "renameat2" || call == "renameat" ? "rename"
                    : call == "unlinkat"                      ? "unlink"
                                                              : call);
  }
  std::remove(trace_file.c_str());
  EXPECT_EQ(calls,
            (std::vector<std::string>{"syncfs", "rename", "rename", "syncfs", "unlink", "unlink"}));
  EXPECT_FALSE(exists("logs/a.txt"));
  EXPECT_FALSE(exists("logs/b.txt"));
}

class DeleteSafetyOfFormat : public DeleteSafety,
                                public ::testing::WithParamInterface<TraceFormatCase> {
 protected:
  std::vector<std::string> with_format(std::vector<std::string> arguments) const {
    arguments.insert(arguments.begin(), {"-f", GetParam().name});
    return arguments;
  }
  std::string trace(const std::string& name) const { return name + GetParam().extension; }
};

TEST_P(DeleteSafetyOfFormat, TraceTakesTheInputsPermissions) {
  if (under_wine()) GTEST_SKIP() << "POSIX permissions";
  for (mode_t mode : {0600, 0640, 0644}) {
    write("a.txt", text_log(1, 1, {kFrame}));
    chmod(path("a.txt").c_str(), mode);
    RunResult result = run(with_format({"a.txt"}));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(mode_of(path(trace("a"))) & 0777, mode);
  }
}

// A rerun with -d after a run without it finds its own traces: the same bytes count as
// published, so the inputs go and the traces stay as they were. A trace that differs stays.
TEST_P(DeleteSafetyOfFormat, RerunFindsItsOwnTracesAndFinishes) {
  write("logs/a.txt", text_log(1, 1, {kFrame}));
  write("logs/b.txt", text_log(2, 1, {kFrame}));
  write("logs/c.txt", text_log(3, 1, {kFrame}));
  ASSERT_EQ(run(with_format({"logs"})).status, 0);
  const std::string a = read(trace("logs_out/a")), b = read(trace("logs_out/b"));
  write(trace("logs_out/c"), "edited by hand\n");
  RunResult result = run(with_format({"--verbosity", "4", "-d", "logs"}));
  EXPECT_EQ(result.status, 8);
  EXPECT_TRUE(has_line(result.log, "D Kept the identical trace " + trace("logs_out/a")))
      << result.raw_err;
  EXPECT_TRUE(has_line(result.log, "D Kept the identical trace " + trace("logs_out/b")));
  EXPECT_TRUE(has_line(result.log, "E Trace " + trace("logs_out/c") +
                                       " exists, not overwritten: remove it, or convert "
                                       "without -d"));
  EXPECT_EQ(tree(), (std::vector<std::string>{"logs/", "logs/c.txt", "logs_out/",
                                              trace("logs_out/a"), trace("logs_out/b"),
                                              trace("logs_out/c")}));
  EXPECT_EQ(read(trace("logs_out/a")), a);
  EXPECT_EQ(read(trace("logs_out/b")), b);
  EXPECT_EQ(read(trace("logs_out/c")), "edited by hand\n");

  // Done as the message says, the run goes through; with many jobs as with one.
  std::remove(path(trace("logs_out/c")).c_str());
  write("logs/a.txt", text_log(1, 1, {kFrame}));
  result = run(with_format({"-j", "4", "-d", "logs"}));
  EXPECT_EQ(result.status, 0) << result.raw_err;
  EXPECT_TRUE(result.log.empty()) << result.raw_err;
  EXPECT_EQ(tree(), (std::vector<std::string>{"logs/", "logs_out/", trace("logs_out/a"),
                                              trace("logs_out/b"), trace("logs_out/c")}));
  EXPECT_EQ(read(trace("logs_out/a")), a);
}

INSTANTIATE_TEST_SUITE_P(Format, DeleteSafetyOfFormat, ::testing::ValuesIn(EVERY_FORMAT),
                         format_case_name);

}  // namespace
}  // namespace e2e
