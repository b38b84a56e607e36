#include "formats/candump_format.h"

#include <gtest/gtest.h>

#include <string>

#include "testing/test_frames.h"
#include "testing/masked_log.h"
#include "testing/memory_stream.h"

namespace velmarch {
namespace {

std::string line_of(const CanRecord& record) {
  SmallString line;
  candump_append_line(line, record);
  return std::string(line.view());
}

TEST(CandumpFormat, WorkedExampleAsCandumpLogsIt) {
  auto format = candump_format_create();
  ASSERT_TRUE(format);
  EXPECT_EQ(format->extension(), ".log");
  MemoryStream out;
  EXPECT_EQ(run_format(*format, out, worked_example()), 3);
  EXPECT_EQ(out.content(),
            "(1729163153.123000) can0 123#1122334455667788\n"
            "(1729163153.135000) can0 18FF1234#010203\n"
            "(1729163154.635000) can0 7FF#\n");
}

TEST(CandumpFormat, LinesAreWhatCanUtilsPrints) {
  CanRecord remote = test_frame(1729163153.123, 0x7FF, false, false, "");
  remote.rtr = 1;
  EXPECT_EQ(line_of(remote), "(1729163153.123000) can0 7FF#R\n");
  remote.length = 3;  // the length asked for follows the R
  remote.extended = 1;
  EXPECT_EQ(line_of(remote), "(1729163153.123000) can0 000007FF#R3\n");

  // Seconds take ten digits, as "%010lu" gives them; a time near a millisecond is that one.
  EXPECT_EQ(line_of(test_frame(1.5, 0, false, false, "")), "(0000000001.500000) can0 000#\n");
  EXPECT_EQ(line_of(test_frame(1729163153.9999997, 1, false, false, "")),
            "(1729163154.000000) can0 001#\n");

  // Identifiers wider than their kind are cut by SocketCAN's masks; the length says how many
  // of the bytes count.
  CanRecord odd = test_frame(0, 0xF912, false, true, "\xAB\xCD\xEF");
  odd.length = 2;
  EXPECT_EQ(line_of(odd), "(0000000000.000000) can0 112#ABCD\n");
  odd.id = 0xFFFFFFFF;
  odd.extended = 1;
  odd.length = 8;
  EXPECT_EQ(line_of(odd), "(0000000000.000000) can0 1FFFFFFF#ABCDEF\n");
}

TEST(CandumpFormat, OnlyWholeFramesCount) {
  auto format = candump_format_create();
  CanRecord other = test_frame(5, 1, false, false, "");
  other.kind = 0;
  MemoryStream empty;
  EXPECT_EQ(run_format(*format, empty, {other}), 0);
  EXPECT_EQ(empty.content(), "");

  MemoryStream out;
  out.write_budget = 50;  // the first line and part of the second
  testing::internal::CaptureStderr();
  EXPECT_EQ(run_format(*format, out, worked_example()), -1);
  EXPECT_EQ(masked_log(testing::internal::GetCapturedStderr()),
            std::vector<std::string>{"E Could not write CAN data"});

  // The failure was that file's: the next one, and one from another(), count afresh.
  MemoryStream next;
  EXPECT_EQ(run_format(*format, next, worked_example()), 3);
  auto second = format->another();
  ASSERT_TRUE(second);
  EXPECT_EQ(run_format(*second, next, worked_example()), 3);
}

}  // namespace
}  // namespace velmarch
