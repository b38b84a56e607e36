#include "diag/log.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>

#include "platform/platform.h"

namespace velmarch {
namespace {

std::string compose(int level, int month, int day, int hour, int minute, int second, int ms,
                    long pid, long tid, const char* format, ...) {
  char line[LOG_LINE_MAX + 1];
  va_list args;
  va_start(args, format);
  size_t length = log_compose_line(line, level, month, day, hour, minute, second, ms, pid, tid,
                                   format, args);
  va_end(args);
  return std::string(line, length);
}

TEST(LogLine, PrefixIsZeroPaddedAndThirtyThreeCharactersWide) {
  std::string line = compose(LOG_ERROR, 10, 17, 11, 5, 53, 123, 4321, 8765, "%s", "Could not write CAN data");
  EXPECT_EQ(line, "10-17 11:05:53.123  4321  8765 E Could not write CAN data\n");

  line = compose(LOG_WARN, 1, 2, 3, 4, 5, 7, 123, 9, "x");
  EXPECT_EQ(line, "01-02 03:04:05.007   123     9 W x\n");
  EXPECT_EQ(line.find('x'), 33u);
}

TEST(LogLine, WideIdsWidenTheFieldAndOddLevelsShowQuestionMark) {
  std::string line = compose(7, 12, 31, 23, 59, 59, 999, 1234567, 12345, "m");
  EXPECT_EQ(line, "12-31 23:59:59.999 1234567 12345 ? m\n");
  EXPECT_EQ(compose(LOG_FATAL, 1, 1, 0, 0, 0, 0, 1, 1, "").substr(31), "F \n");
}

TEST(LogLine, LongMessageIsCutAt510Characters) {
  std::string message(600, 'y');
  std::string line = compose(LOG_ERROR, 1, 1, 0, 0, 0, 0, 1, 1, "%s", message.c_str());
  EXPECT_EQ(line.size(), 511u);
  EXPECT_EQ(line.back(), '\n');
  EXPECT_EQ(line[509], 'y');

  // Exactly filling the room is not a cut.
  std::string exact(510 - 33, 'z');
  line = compose(LOG_ERROR, 1, 1, 0, 0, 0, 0, 1, 1, "%s", exact.c_str());
  EXPECT_EQ(line.size(), 511u);
  EXPECT_EQ(line[509], 'z');
}

TEST(LogLevelFilter, CallSiteFormatsNothingBelowTheOutputLevel) {
  int formatted = 0;
  auto count = [&formatted]() { return ++formatted; };
  int saved = log_output_level;
  log_set_output_level(5);
  testing::internal::CaptureStderr();
  DIAG(LOG_WARN, "warning %d", count());
  DIAG(LOG_ERROR, "error %d", count());
  std::string written = testing::internal::GetCapturedStderr();
  log_set_output_level(saved);
  EXPECT_EQ(formatted, 1);
  EXPECT_NE(written.find(" E error 1\n"), std::string::npos);
  EXPECT_EQ(written.find("warning"), std::string::npos);
}

// A worker's lines are kept and written later by another thread, under that thread's id, cut
// as they would have been.
TEST(LogCapture, KeptLinesAreWrittenLaterInOrder) {
  LogCapture capture;
  std::string long_message(600, 'y');
  testing::internal::CaptureStderr();
  std::thread worker([&] {
    LogCaptureScope scope(&capture);
    log_message(LOG_WARN, "first %d", 1);
    {
      LogCaptureScope direct(nullptr);
      log_message(LOG_ERROR, "at once");
    }
    log_message(LOG_ERROR, "%s", long_message.c_str());
  });
  worker.join();
  std::string written_by_worker = testing::internal::GetCapturedStderr();
  EXPECT_NE(written_by_worker.find(" E at once\n"), std::string::npos);
  EXPECT_EQ(written_by_worker.find("first"), std::string::npos);

  testing::internal::CaptureStderr();
  capture.replay();
  std::string written = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(capture.empty());
  size_t first = written.find(" W first 1\n");
  ASSERT_NE(first, std::string::npos);
  std::string second = written.substr(written.find('\n') + 1);
  EXPECT_EQ(second.size(), 511u);  // cut as a line written at once is
  // Both lines carry this thread's id.
  std::string id = std::to_string(platform_thread_id());
  EXPECT_NE(written.substr(0, first).find(" " + id), std::string::npos);
}

// A report keeps why a file failed even when the user asked for fatal lines only: the first
// error and its reason, as a replay of captured lines tells them, and nothing after.
TEST(LogErrorTap, KeepsTheFirstErrorAndItsReasonWhateverTheOutputLevel) {
  int saved = log_output_level;
  log_keep_errors();
  log_set_output_level(LOG_FATAL);
  LogCapture capture;
  {
    LogCaptureScope keep(&capture);
    DIAG(LOG_WARN, "not kept");
    DIAG_FAILURE(LOG_ERROR, ENOENT, "Could not open input file %s", "a.txt");
    DIAG(LOG_ERROR, "Error during conversion of a.txt");
  }
  testing::internal::CaptureStderr();
  LogErrorTap tap;
  capture.replay();
  std::string written = testing::internal::GetCapturedStderr();
  log_set_output_level(saved);
  EXPECT_EQ(written, "");
  EXPECT_EQ(tap.first_error(),
            "Could not open input file a.txt: " + platform_error_text(ENOENT));

  LogErrorTap other;
  other.note(LOG_ERROR, "Could not parse file header");
  other.note(LOG_ERROR, "Error during conversion of a.txt");
  other.note(LOG_ERROR, "Reason: not this one");
  EXPECT_EQ(other.first_error(), "Could not parse file header");
}

}  // namespace
}  // namespace velmarch
