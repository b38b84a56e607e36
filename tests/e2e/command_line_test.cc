#include <algorithm>
#include <regex>
#include <sstream>

#include "e2e_harness.h"
#include "testing/test_data.h"

namespace e2e {
namespace {

std::string expected_usage() { return velmarch::read_test_data("usage.txt"); }

class CommandLine : public Scratch {
 protected:
  void SetUp() override {
    Scratch::SetUp();
    write("in/a.txt", text_log(1, 1, {"11:05:53.123;0;123;8;1122334455667788"}));
  }
};

TEST_F(CommandLine, UsageForNoArgumentsAndForHelpWhateverElseIsGiven) {
  for (const auto& arguments : std::vector<std::vector<std::string>>{
           {}, {"--help"}, {"--help", "--bogus"}, {"--help", "-d", "-d", "--buffer"},
           {"in/a.txt", "--help", "--verbosity", "9"}}) {
    RunResult result = run(arguments);
    EXPECT_EQ(result.status, 0);
    // The syntax line shows room for as many inputs as there are arguments.
    std::string usage = expected_usage();
    size_t glossary = usage.find("\n\n");
    EXPECT_EQ(result.out.substr(0, glossary), usage.substr(0, glossary));
    EXPECT_EQ(result.out.substr(result.out.find("\n\n")), usage.substr(glossary));
    if (arguments.empty()) {
      EXPECT_EQ(result.out, usage);
    }
    EXPECT_TRUE(result.raw_err.empty());
  }
  EXPECT_FALSE(exists("in/a.trc"));
}

TEST_F(CommandLine, VersionPrintsThreeLinesEvenWithABadOption) {
  RunResult result = run({"--version", "--bogus"});
  EXPECT_EQ(result.status, 0);
  std::istringstream lines(result.out);
  std::string version, date, sha, extra;
  std::getline(lines, version);
  std::getline(lines, date);
  std::getline(lines, sha);
  EXPECT_FALSE(std::getline(lines, extra));
  EXPECT_TRUE(std::regex_match(version, std::regex(R"(Version: \d\d\.\d\d\.\d\d\.[0-9a-f]{8})")))
      << version;
  EXPECT_TRUE(std::regex_match(
      date, std::regex(R"(Build date: [A-Z][a-z]{2} [ 0-9]\d \d{4} \d\d:\d\d:\d\d)")))
      << date;
  EXPECT_TRUE(std::regex_match(sha, std::regex(R"(GIT SHA: [0-9a-f]{40})"))) << sha;
  EXPECT_EQ(sha.substr(9, 8), version.substr(18, 8));
  EXPECT_EQ(run({"-v"}).out, result.out);
}

TEST_F(CommandLine, BadOrMissingValuesSayWhyOnStandardErrorOnly) {
  const std::string integer = ": expected an integer such as 4096, 0x1000 or 4KB";
  struct Case {
    std::vector<std::string> arguments;
    int status;
    std::string line;
  } cases[] = {
      {{"--buffer", "abc", "in/a.txt"}, 131, "F Invalid value \"abc\" for --buffer" + integer},
      {{"-b", "1XB", "in/a.txt"}, 131, "F Invalid value \"1XB\" for --buffer" + integer},
      {{"in/a.txt", "--buffer"}, 130, "F Option \"--buffer\" needs a value"},
      {{"--verbosity", "6", "in/a.txt"}, 131, "F Invalid value 6 for --verbosity: expected 0 to 5"},
      {{"--verbosity", "-1", "in/a.txt"}, 131,
       "F Invalid value -1 for --verbosity: expected 0 to 5"},
      {{"in/a.txt", "-O"}, 130, "F Option \"-O\" needs a value"},
      {{"--jobs", "0", "in/a.txt"}, 131, "F Invalid value 0 for --jobs: expected 1 or more"},
      {{"-j", "-2", "in/a.txt"}, 131, "F Invalid value -2 for --jobs: expected 1 or more"},
      {{"-j", "x", "in/a.txt"}, 131, "F Invalid value \"x\" for --jobs" + integer},
      {{"in/a.txt", "--jobs"}, 130, "F Option \"--jobs\" needs a value"},
  };
  for (const auto& c : cases) {
    RunResult result = run(c.arguments);
    EXPECT_EQ(result.status, c.status) << c.arguments[0];
    EXPECT_EQ(result.out, "") << c.arguments[0];
    EXPECT_EQ(result.log, std::vector<std::string>{c.line}) << c.arguments[0];
  }
  // Errors argtable prints on standard output keep doing so, and are told on standard error too.
  struct Printed {
    std::vector<std::string> arguments;
    std::string line;
  } printed[] = {
      {{"--bogus", "in/a.txt"}, "F Unknown option \"--bogus\": see velmarch --help"},
      {{"-d", "-d", "in/a.txt"}, "F Option --delete-converted given more than once"},
      {{"-d"}, "F No input file or folder given"},
      {{"-f", "version3", "in/a.txt"},
       "F Invalid value \"version3\" for --trace-format: expected "
       "{version1,version2,version2r,asc,blf,candump,pcapng}"},
      {{"-b", "99999999999", "in/a.txt"}, "F Value \"99999999999\" for --buffer is too large"},
  };
  for (const auto& c : printed) {
    RunResult result = run(c.arguments);
    EXPECT_EQ(result.status, 134) << c.arguments[0];
    EXPECT_NE(result.out, "") << c.arguments[0];
    EXPECT_EQ(result.log, std::vector<std::string>{c.line}) << c.arguments[0];
  }
  EXPECT_FALSE(exists("in/a.trc"));
}

TEST_F(CommandLine, PrintedErrorsEndWith134) {
  struct Case {
    std::vector<std::string> arguments;
    std::string out;
  } cases[] = {
      {{"-d", "-d", "in/a.txt"}, "velmarch: extraneous option -d|--delete-converted\n"},
      {{"-O", "in", "-O", "in", "in/a.txt"}, "velmarch: excess option -O|--output-directory=in\n"},
      {{"-f", "version3", "in/a.txt"},
       "velmarch: invalid value \"version3\" to option "
       "-f|--trace-format={version1,version2,version2r,asc,blf,candump,pcapng}\n"},
      {{"-d"}, "velmarch: missing option file(s)/folder(s)\n"},
      {{"--bogus", "in/a.txt"}, "velmarch: invalid option \"--bogus\"\n"},
  };
  for (const auto& c : cases) {
    RunResult result = run(c.arguments);
    EXPECT_EQ(result.status, 134) << c.out;
    EXPECT_EQ(result.out, c.out);
  }
}

TEST_F(CommandLine, OnlyTheTwoVersionNamesAreTraceFormats) {
  for (const char* value : {"1", "2", "1.1", "2.1", "version", "version12"}) {
    RunResult result = run({"--trace-format", value, "in/a.txt"});
    EXPECT_EQ(result.status, 134) << value;
  }
  for (const auto& arguments : std::vector<std::vector<std::string>>{
           {"-f", "VERSION1", "in/a.txt"}, {"--trace-format", "Version1", "in/a.txt"},
           {"--trace-format=version1", "in/a.txt"}}) {
    ASSERT_EQ(run(arguments).status, 0);
    EXPECT_EQ(read("in/a.trc").substr(0, 18), ";$FILEVERSION=1.1\n");
  }
  ASSERT_EQ(run({"in/a.txt"}).status, 0);
  EXPECT_EQ(read("in/a.trc").substr(0, 18), ";$FILEVERSION=2.1\n");
}

TEST_F(CommandLine, FlagsGivenAValueAreInvalidOptions) {
  for (const char* argument : {"--non-interactive=1", "--version=x", "--input-files=foo",
                               "--delete-converted=1", "--no-append-root=1", "--help=1",
                               "--non-inter=1", "--input=foo"}) {
    RunResult result = run({argument, "in/a.txt"});
    EXPECT_EQ(result.status, 134) << argument;
    EXPECT_EQ(result.out, "velmarch: invalid option \"" + std::string(argument) + "\"\n");
  }
  EXPECT_FALSE(exists("in/a.trc"));
}

TEST_F(CommandLine, InvalidOutputPathIsACommandLineError) {
  write("file.txt", "not a folder");
  RunResult result = run({"-O", "file.txt", "in/a.txt"});
  EXPECT_EQ(result.status, 134);
  // Under wine the absolute path comes with the drive that maps the Linux tree.
  std::string shown = (under_wine() ? "Z:" : "") + path("file.txt");
  EXPECT_TRUE(has_line(result.log, "E Invalid output path: " + shown)) << result.raw_err;
  result = run({"-O", "missing", "in/a.txt"});
  EXPECT_EQ(result.status, 134);
  EXPECT_FALSE(exists("in/a.trc"));
}

TEST_F(CommandLine, InputsWithoutCommonRootAreRefused) {
  write("other/b.txt", text_log(1, 2, {}));
  RunResult result = run({"in/a.txt", "other/b.txt"});
  EXPECT_EQ(result.status, 132);
  EXPECT_TRUE(has_line(result.log, "F No common root detected for all inputs"));
  result = run({"/"});
  EXPECT_EQ(result.status, 132);
  EXPECT_TRUE(has_line(result.log, "F Could not find root for /"));
}

// --files-from: the list's paths join the command line's, relative to where velmarch runs,
// under the same common root; blanks and repeats are left out, a missing path is reported.
TEST_F(CommandLine, InputListsJoinTheCommandLine) {
  write("in/b.txt", text_log(2, 1, {"11:05:53.123;0;123;8;1122334455667788"}));
  write("list", "in/b.txt\n\nin/missing.txt\nin/a.txt\nin/b.txt\n");
  RunResult result = run({"--verbosity=4", "--files-from=list", "in/a.txt"});
  EXPECT_EQ(result.status, 1) << result.raw_err;
  EXPECT_TRUE(exists("in/a.trc"));
  EXPECT_TRUE(exists("in/b.trc"));
  EXPECT_TRUE(has_line(result.log, "D Left out 2 repeated paths of the input list"));
  EXPECT_TRUE(has_line(result.log, "W Could not find input file/folder missing.txt"));

  write("list", "in/a.txt\nother/c.txt\n");
  EXPECT_EQ(run({"--files-from", "list"}).status, 132);
  write("list", std::string("in/a.txt\0in/b.txt\0", 18));
  EXPECT_EQ(run({"-0", "--files-from=list", "-f", "asc"}).status, 0);
  EXPECT_TRUE(exists("in/b.asc"));
  write("list", "");
  EXPECT_EQ(run({"--files-from=list"}).status, 0);
  result = run({"--files-from=absent"});
  EXPECT_EQ(result.status, 134);
  EXPECT_TRUE(has_line(result.log, "F Could not read the input list absent")) << result.raw_err;
}

TEST_F(CommandLine, InputsUnderAMissingFolderAreReportedMissing) {
  RunResult result = run({"nowhere/a.txt", "nowhere/b.txt"});
  EXPECT_EQ(result.status, 1);
  EXPECT_TRUE(has_line(result.log, "W Could not find input file/folder a.txt"));
  EXPECT_TRUE(has_line(result.log, "W Could not find input file/folder b.txt"));
}

TEST_F(CommandLine, VerbosityFiltersWarnings) {
  RunResult result = run({"--verbosity", "1", "in/a.txt", "in/missing.txt"});
  EXPECT_EQ(result.status, 1);
  EXPECT_TRUE(result.log.empty());
  result = run({"--verbosity", "5", "in/missing.txt"});
  EXPECT_TRUE(has_line(result.log, "W Could not find input file/folder missing.txt"));
}

TEST_F(CommandLine, DebugLinesTellWhatBecameOfEachFile) {
  std::string log = text_log(1, 1, {"11:05:53.123;0;123;1;11", "11:05:53.000;0;123;1;22"});
  write("logs/a.txt", log);
  write("logs/b.txt", log);  // the same session and split: a repeat
  write("logs/bad.txt", "no header\n");
  write("logs/notes.md", "x");
  RunResult result = run({"--verbosity", "4", "-d", "logs"});
  EXPECT_EQ(result.status, 8);
  const std::string read_a =
      "D Read logs/a.txt: 1 record, 1 line skipped for timestamps that ran backwards, 0 rollovers";
  for (const char* line :
       {"D Converting logs/a.txt into logs_out/a.trc", "D Wrote 1 frame to logs_out/a.trc",
        read_a.c_str(),
        "D Dropped line 19 of logs/a.txt: its timestamp runs back 0.123 s",
        "D Removed logs/a.txt: its trace is whole and on disk",
        "D Kept logs/b.txt: it repeats the file before",
        "D Kept logs/bad.txt: its conversion failed",
        "D Passed over logs/notes.md: not a txt file"}) {
    EXPECT_TRUE(has_line(result.log, line)) << line;
  }

  // The operating system's reason follows the failure it explains, at its level.
  write("in/a.txt", log);
  write("in_out", "a file where the output folder should be");
  result = run({"in"});
  EXPECT_EQ(result.status, 8);
  auto failure =
      std::find(result.log.begin(), result.log.end(), "E Could not create output folder in_out");
  ASSERT_NE(failure, result.log.end()) << result.raw_err;
  ASSERT_NE(failure + 1, result.log.end());
  EXPECT_EQ(failure[1].rfind("E Reason: ", 0), 0u) << failure[1];
  if (!under_wine()) {
    EXPECT_EQ(failure[1], "E Reason: Not a directory");
  }

  // None of it at the default verbosity.
  result = run({"in"});
  for (const std::string& line : result.log) {
    EXPECT_NE(line.rfind("D ", 0), 0u) << line;
  }
}

}  // namespace
}  // namespace e2e
