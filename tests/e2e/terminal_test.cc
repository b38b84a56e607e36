#include <regex>

#include "e2e_harness.h"

namespace e2e {
namespace {

// A log that takes the run a good part of a second, so that its status line is drawn.
std::string long_log() {
  std::vector<std::string> lines(2'000'000, "11:05:53.123;0;123;8;1122334455667788");
  return text_log(1, 1, lines);
}

// Timestamps that run backwards: one warning, written while the status line is shown.
std::string warning_log() {
  return text_log(2, 1, {"11:05:54.000;0;123;1;11", "11:05:53.000;0;123;1;22"});
}

// The end of what the terminal received, its carriage returns shown.
std::string tail_of(const std::string& shown) {
  std::string tail = shown.substr(shown.size() > 400 ? shown.size() - 400 : 0);
  return std::regex_replace(tail, std::regex("\r"), "<CR>");
}

using Terminal = Scratch;

TEST_F(Terminal, ProgressLineGivesWayToLogLinesAndEndsAsSummary) {
  if (under_wine()) GTEST_SKIP() << "no pseudo-terminal for a Windows console";
  write("logs/a.txt", long_log());
  write("logs/b.txt", warning_log());
  RunResult result = run_on_terminal({"-j", "1", "logs"}, 60);
  ASSERT_EQ(result.status, 0) << result.raw_err;
  const std::string& shown = result.raw_err;

  // Redrawn in place: each new state starts by blanking the one before with spaces.
  std::smatch status;
  ASSERT_TRUE(std::regex_search(shown, status, std::regex(R"(\[[0-9]/2 files\] [0-9,]+ frames)")))
      << shown;
  for (size_t at = shown.find('\r'); at != std::string::npos; at = shown.find('\r', at + 1)) {
    EXPECT_TRUE(at + 1 == shown.size() || shown[at + 1] == ' ' || shown[at - 1] == ' ')
        << "a carriage return that neither blanks nor ends a blanking at " << at;
  }
  // A status line is never wider than the terminal less one column, or it would wrap.
  std::regex line_end("[\r\n]");
  for (std::sregex_token_iterator piece(shown.begin(), shown.end(), line_end, -1), end;
       piece != end; ++piece) {
    if (piece->str().rfind('[', 0) == 0) {
      EXPECT_LE(piece->length(), 59) << *piece;
    }
  }

  // The warning starts a line of its own, right after the status line was blanked.
  std::regex warning(R"((^|\r +\r)[0-9-]+ [0-9:.]+ +[0-9]+ +[0-9]+ W Skipping non-increasing)");
  EXPECT_TRUE(std::regex_search(shown, warning)) << shown;

  // The last thing on the terminal: the summary, on a line of its own.
  std::regex summary(R"(\r +\r2 files converted, 0 skipped, 0 failed; 2,000,001 frames; [0-9.]+ s\n$)");
  EXPECT_TRUE(std::regex_search(shown, summary)) << tail_of(shown);
}

TEST_F(Terminal, NonInteractiveAndPipesShowNoProgress) {
  if (under_wine()) GTEST_SKIP() << "no pseudo-terminal for a Windows console";
  write("logs/a.txt", long_log());
  write("logs/b.txt", warning_log());
  RunResult on_terminal = run_on_terminal({"--non-interactive", "logs"});
  EXPECT_EQ(on_terminal.status, 0);
  RunResult piped = run({"logs"});
  EXPECT_EQ(piped.status, 0);
  for (const std::string& shown : {on_terminal.raw_err, piped.raw_err}) {
    EXPECT_EQ(shown.find('\r'), std::string::npos) << shown;
    EXPECT_EQ(shown.find("files"), std::string::npos) << shown;
    EXPECT_NE(shown.find("W Skipping non-increasing timestamp"), std::string::npos) << shown;
  }
}

}  // namespace
}  // namespace e2e
