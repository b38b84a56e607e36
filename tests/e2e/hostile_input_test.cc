// Inputs no logger writes: each run must end with a clean status and the right messages, must
// not hang, and must leave no output that was not asked for.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>
#include <regex>
#include <sstream>

#include "e2e_harness.h"

namespace e2e {
namespace {

const char* const kFirst = "11:05:53.123;0;123;8;1122334455667788";
const char* const kSecond = "11:05:53.135;9;18FF1234;3;010203";
const char* const kFirstTrace =
    "      1         0.000 DT 1     0123 Rx 8    11 22 33 44 55 66 77 88";
const char* const kSecondTrace = "      2        12.000 DT 1 18FF1234 Tx 3    01 02 03";

std::string log_with(const std::string& middle, int session = 1) {
  std::string log = text_log(session, 1, {kFirst});
  return log + middle + kSecond + "\n";
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Every line after the header is a well-formed 2.1 record line.
void expect_well_formed(const std::string& trace) {
  static const std::regex record(
      R"( *\d+ +-?\d+\.\d{3} DT 1 ( {4}[0-9A-F]{4}|[0-9A-F]{8}) (Rx|Tx) \d+ {3,4}([0-9A-F]{2}( [0-9A-F]{2})*)?)");
  std::vector<std::string> lines = lines_of(trace);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], ";$FILEVERSION=2.1");
  for (size_t i = 3; i < lines.size(); ++i) {
    EXPECT_TRUE(std::regex_match(lines[i], record)) << i << ": " << lines[i];
  }
}

using Hostile = Scratch;

TEST_F(Hostile, UnreadableContentFailsTheFileAndKeepsIt) {
  std::mt19937 random(8);
  std::string garbage(size_t{64} << 10, '\0');
  for (char& c : garbage) c = static_cast<char>(random());
  garbage[0] = '\xFF';  // not a "#" line
  struct Case {
    const char* name;
    std::string content;
  } cases[] = {
      {"garbage.txt", garbage},
      {"zeros.txt", std::string(4096, '\0')},
      {"no_line_feed.txt", "# Logger ID: 1; Session No.: 1; Split No.: 1 and no line feed at all"},
      {"header_only.txt", "# Logger ID: 1\n# Session No.: 1\n# Split No.: 1\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    write(c.name, c.content);
    RunResult result = run({"-d", c.name});
    EXPECT_EQ(result.status, 8);
    EXPECT_EQ(result.log,
              (std::vector<std::string>{"E Could not open log",
                                        std::string("E Error during conversion of ") + c.name}));
    EXPECT_EQ(read(c.name), c.content);
  }
  EXPECT_EQ(tree().size(), 4u);  // the inputs, nothing else
}

TEST_F(Hostile, ZeroBytesDoNotEndTheFile) {
  // (Not "nul.txt": Windows reserves that name for its null device.)
  // A zero byte ends a line's text; a line that starts with one reads as an empty line.
  std::string middle("\0\0\0\n11:05:53.130;0;7;1;AA\0BB\n", 29);
  write("zeros.txt", log_with(middle));
  RunResult result = run({"-d", "zeros.txt"});
  EXPECT_EQ(result.status, 0) << result.raw_err;
  std::vector<std::string> trace = lines_of(read("zeros.trc"));
  ASSERT_EQ(trace.size(), 6u);
  EXPECT_EQ(trace[3], kFirstTrace);
  EXPECT_EQ(trace[4], "      2         7.000 DT 1     0007 Rx 1    AA");
  EXPECT_EQ(trace[5], "      3        12.000 DT 1 18FF1234 Tx 3    01 02 03");
  EXPECT_FALSE(exists("zeros.txt"));
}

// Garbage among the records gives times out of order: lines dropped, or taken for a rollover
// that is told since it ran back by less than half a day.
bool is_timestamp_warning(const std::string& line) {
  return line.rfind("W Skipping non-increasing", 0) == 0 ||
         line.rfind("W Timestamp ran back ", 0) == 0;
}

TEST_F(Hostile, GarbageAmongTheRecordsStaysInItsLines) {
  std::mt19937 random(11);
  std::string garbage(size_t{256} << 10, '\0');
  for (char& c : garbage) c = static_cast<char>(random());
  write("noisy.txt", log_with(garbage + "\n"));
  RunResult result = run({"noisy.txt"});
  EXPECT_EQ(result.status, 0);
  for (const auto& line : result.log) EXPECT_TRUE(is_timestamp_warning(line)) << line;
  std::string trace = read("noisy.trc");
  expect_well_formed(trace);
  EXPECT_EQ(lines_of(trace)[3], kFirstTrace);
}

TEST_F(Hostile, HugeLinesAndHeadersConvert) {
  // A line is read in pieces of 199 characters. Pieces of blanks carry no time: they are
  // dropped as running backwards, but count as a rollover of the time of day, so the frame
  // after them lands a day later.
  write("long_line.txt", log_with(std::string(size_t{100} * 1000 * 1000, ' ') + "\n"));
  std::string header;
  for (int i = 0; i < 100000; ++i) header += "# Comment: " + std::to_string(i) + "\n";
  std::string tall = text_log(2, 1, {kFirst, kSecond});
  write("tall_header.txt", header + tall);
  RunResult result = run({"long_line.txt", "tall_header.txt"});
  EXPECT_EQ(result.status, 0) << result.raw_err;
  EXPECT_EQ(result.log,
            std::vector<std::string>{"W Skipping non-increasing timestamp: 1729163153.123000"});
  std::vector<std::string> lines = lines_of(read("long_line.trc"));
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[3], kFirstTrace);
  EXPECT_EQ(lines[4].substr(22), std::string(kSecondTrace).substr(22));
  EXPECT_EQ(lines_of(read("tall_header.trc")),
            (std::vector<std::string>{";$FILEVERSION=2.1", ";$STARTTIME=45582.4624204051",
                                      ";$COLUMNS=N,O,T,B,I,d,L,D", kFirstTrace, kSecondTrace}));
  std::remove(path("long_line.txt").c_str());
}

TEST_F(Hostile, TenThousandColumns) {
  // Only the first seven columns are looked at; the rest of a line longer than 199 characters
  // is read as further lines, which may parse as frames of their own.
  std::string heading = "Timestamp;Type;ID;Length;Data";
  std::string record = kFirst;
  for (int i = 0; i < 9995; ++i) {
    heading += ";Extra" + std::to_string(i);
    record += ";" + std::to_string(i % 10);
  }
  std::string log = text_log(1, 1, {});
  log.replace(log.find("Timestamp;Type;ID;Length;Data"), 29, heading);
  write("wide.txt", log + record + "\n");
  RunResult result = run({"wide.txt"});
  EXPECT_EQ(result.status, 0);
  for (const auto& line : result.log) EXPECT_TRUE(is_timestamp_warning(line)) << line;
  std::string trace = read("wide.trc");
  expect_well_formed(trace);
  EXPECT_NE(trace.find(std::string(kFirstTrace).substr(22)), std::string::npos);
}

TEST_F(Hostile, NamesWithBlanksUtf8AndLineFeeds) {
  if (under_wine()) GTEST_SKIP() << "Windows names hold no tabs or line feeds";
  const std::vector<std::string> names = {"my logs/a b.txt", "my logs/\xC3\xBC\xE6\x97\xA5.txt",
                                          "my logs/line\nfeed.txt", "my logs/ tab\t.TXT"};
  for (size_t i = 0; i < names.size(); ++i) {
    write(names[i], text_log(static_cast<int>(i + 1), 1, {kFirst}));
  }
  RunResult result = run({"-d", "my logs"});
  EXPECT_EQ(result.status, 0) << result.raw_err;
  EXPECT_TRUE(result.log.empty()) << result.raw_err;
  EXPECT_EQ(tree(), (std::vector<std::string>{"my logs/", "my logs_out/", "my logs_out/ tab\t.trc",
                                              "my logs_out/a b.trc", "my logs_out/line\nfeed.trc",
                                              "my logs_out/\xC3\xBC\xE6\x97\xA5.trc"}));
}

TEST_F(Hostile, DeepTreeIsMirrored) {
  if (under_wine()) GTEST_SKIP() << "Windows paths end at 260 characters";
  std::string folder = "logs";
  for (int i = 0; i < 200; ++i) folder += "/d" + std::to_string(i);
  write(folder + "/a.txt", text_log(1, 1, {kFirst}));
  RunResult result = run({"logs"});
  EXPECT_EQ(result.status, 0) << result.raw_err;
  EXPECT_TRUE(exists("logs_out" + folder.substr(4) + "/a.trc"));
}

// Entries whose full path is longer than the system takes cannot be queried; the listing leaves
// them out without a word, so nothing below is converted.
TEST_F(Hostile, TreeBeyondThePathLimitIsPassedOver) {
  const std::string name(200, 'n');
  int fd = open(dir_.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(mkdirat(fd, "deep", 0755), 0);
  std::vector<int> chain = {fd, openat(fd, "deep", O_RDONLY | O_DIRECTORY)};
  for (int i = 0; i < 25; ++i) {
    ASSERT_EQ(mkdirat(chain.back(), name.c_str(), 0755), 0);
    chain.push_back(openat(chain.back(), name.c_str(), O_RDONLY | O_DIRECTORY));
    ASSERT_GE(chain.back(), 0);
  }
  int file = openat(chain.back(), "a.txt", O_WRONLY | O_CREAT, 0644);
  std::string log = text_log(1, 1, {kFirst});
  ASSERT_EQ(::write(file, log.data(), log.size()), static_cast<ssize_t>(log.size()));
  close(file);

  RunResult result = run({"-X", "deep"});
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(result.log.empty()) << result.raw_err;
  EXPECT_EQ(faccessat(chain.back(), "a.trc", F_OK, 0), -1);

  // The scratch folder's removal works by name: take the tree apart from below.
  for (size_t i = chain.size() - 1; i > 0; --i) {
    unlinkat(chain[i], "a.txt", 0);
    close(chain[i]);
    unlinkat(chain[i - 1], i == 1 ? "deep" : name.c_str(), AT_REMOVEDIR);
  }
  close(fd);
}

TEST_F(Hostile, FifoAndDevicesNamedLikeLogsAreNotOpened) {
  if (under_wine()) GTEST_SKIP() << "FIFOs and device links are POSIX";
  write("logs/a.txt", text_log(1, 1, {kFirst}));
  ASSERT_EQ(mkfifo(path("logs/pipe.txt").c_str(), 0644), 0);
  ASSERT_EQ(symlink("/dev/zero", path("logs/zero.txt").c_str()), 0);
  ASSERT_EQ(symlink("/dev/null", path("logs/null.txt").c_str()), 0);
  ASSERT_EQ(symlink("/dev/tty", path("logs/tty.txt").c_str()), 0);
  time_limit_ = 10;
  // In a folder they are passed over like any other entry that is neither file nor folder.
  RunResult result = run({"-d", "logs"});
  EXPECT_EQ(result.status, 0) << result.raw_err;
  EXPECT_TRUE(result.log.empty()) << result.raw_err;
  EXPECT_TRUE(exists("logs_out/a.trc"));
  EXPECT_FALSE(exists("logs_out/pipe.trc"));
  EXPECT_FALSE(exists("logs_out/zero.trc"));
  // Named on the command line, each is an input of the wrong kind.
  for (const char* name : {"pipe.txt", "zero.txt", "null.txt"}) {
    result = run({"-d", std::string("logs/") + name});
    EXPECT_EQ(result.status, 129) << name;
    EXPECT_EQ(result.log, std::vector<std::string>{std::string("F Could not convert ") + name +
                                                   ": neither a file nor a folder"})
        << result.raw_err;
  }
  EXPECT_TRUE(exists("logs/pipe.txt"));
  EXPECT_TRUE(exists("logs/zero.txt"));
  EXPECT_EQ(tree().size(), 7u);  // logs/, the FIFO and the three links, logs_out/ and the one trace
}

TEST_F(Hostile, InputGivenTwice) {
  write("logs/a.txt", text_log(1, 1, {kFirst}));
  const std::string repeated = "W Repeated input file (0000AB12, 00000001, 00000001)";
  RunResult result = run({"logs/a.txt", "logs/a.txt"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.log,
            (std::vector<std::string>{repeated, "I Skipped a.txt: it repeats a.txt"}));
  EXPECT_EQ(tree(), (std::vector<std::string>{"logs/", "logs/a.trc", "logs/a.txt"}));
  result = run({"logs", "logs"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.log, (std::vector<std::string>{
                            repeated, "I Skipped logs/a.txt: it repeats logs/a.txt"}));
  EXPECT_TRUE(exists("logs_out/a.trc"));
  std::remove(path("logs_out/a.trc").c_str());
  std::remove(path("logs_out").c_str());

  // Deleted after the first conversion, it is missing the second time. (The first run's trace
  // would keep -d from writing over it.)
  std::remove(path("logs/a.trc").c_str());
  result = run({"-d", "logs/a.txt", "logs/a.txt"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.log, std::vector<std::string>{"W Could not find input file/folder a.txt"});
  EXPECT_EQ(tree(), (std::vector<std::string>{"logs/", "logs/a.trc"}));
}

TEST_F(Hostile, OutputDirectoryInsideTheInputFolder) {
  write("logs/a.txt", text_log(1, 1, {kFirst}));
  write("logs/z/b.txt", text_log(2, 1, {kFirst}));
  mkdir("logs/out");
  RunResult result = run({"-O", "logs/out", "logs"});
  EXPECT_EQ(result.status, 0) << result.raw_err;
  // The walk meets its own output folder and finds no log in it.
  result = run({"-X", "-O", "logs/out", "logs"});
  EXPECT_EQ(result.status, 0) << result.raw_err;
  EXPECT_TRUE(result.log.empty()) << result.raw_err;
  EXPECT_EQ(tree(), (std::vector<std::string>{
                        "logs/", "logs/a.txt", "logs/out/", "logs/out/logs/", "logs/out/logs/a.trc",
                        "logs/out/logs/z/", "logs/out/logs/z/b.trc", "logs/out/logs_out/",
                        "logs/out/logs_out/a.trc", "logs/out/logs_out/z/",
                        "logs/out/logs_out/z/b.trc", "logs/z/", "logs/z/b.txt"}));
}

}  // namespace
}  // namespace e2e
