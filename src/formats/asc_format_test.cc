#include "formats/asc_format.h"

#include <gtest/gtest.h>

#include <string>

#include "testing/test_frames.h"
#include "testing/masked_log.h"
#include "testing/memory_stream.h"

namespace velmarch {
namespace {

std::string line_of(int64_t offset_ms, const CanRecord& record) {
  SmallString line;
  asc_append_line(line, offset_ms, record);
  return std::string(line.view());
}

// The date the header gives a first frame at that many milliseconds since 1970.
std::string date_of(int64_t start_ms) {
  SmallString header;
  if (!asc_append_header(header, start_ms)) return "none";
  StrView text = header.view();
  return std::string(text.substr(5, text.find('\n') - 5));
}

TEST(AscFormat, WorkedExampleAsPythonCanLaysItOut) {
  auto format = asc_format_create();
  ASSERT_TRUE(format);
  EXPECT_EQ(format->extension(), ".asc");
  MemoryStream out;
  EXPECT_EQ(run_format(*format, out, worked_example()), 3);
  EXPECT_EQ(out.content(),
            "date Thu Oct 17 11:05:53.123 am 2024\n"
            "base hex  timestamps absolute\n"
            "no internal events logged\n"
            "Begin Triggerblock Thu Oct 17 11:05:53.123 am 2024\n"
            " 0.000000 Start of measurement\n"
            " 0.000000 1  123             Rx   d 8 11 22 33 44 55 66 77 88\n"
            " 0.012000 1  18FF1234x       Tx   d 3 01 02 03\n"
            " 1.512000 1  7FF             Rx   d 0 \n"
            "End TriggerBlock\n");
}

TEST(AscFormat, DatesAreEnglishOnATwelveHourClock) {
  const int64_t minute = 60000;
  const int64_t day = 1440 * minute;
  const int64_t oct_17_2024 = 1729123200000;
  EXPECT_EQ(date_of(oct_17_2024 + 5 * minute + 9007), "Thu Oct 17 12:05:09.007 am 2024");
  EXPECT_EQ(date_of(oct_17_2024 + day / 2), "Thu Oct 17 12:00:00.000 pm 2024");
  EXPECT_EQ(date_of(oct_17_2024 + day / 2 + 60 * minute), "Thu Oct 17 01:00:00.000 pm 2024");
  EXPECT_EQ(date_of(oct_17_2024 + day - 1), "Thu Oct 17 11:59:59.999 pm 2024");
  EXPECT_EQ(date_of(oct_17_2024 - 46 * day), "Sun Sep 01 12:00:00.000 am 2024");
  EXPECT_EQ(date_of(0), "Thu Jan 01 12:00:00.000 am 1970");
  EXPECT_EQ(date_of(951782400000), "Tue Feb 29 12:00:00.000 am 2000");
}

TEST(AscFormat, FrameLinesKeepTheirColumns) {
  CanRecord frame = test_frame(0, 0x18FF1234, true, false, "\xAB");
  // python-can's "{: 9.6f}": a blank or a minus before the seconds, however many digits.
  EXPECT_EQ(line_of(12000, frame), " 12.000000 1  18FF1234x       Rx   d 1 AB\n");
  EXPECT_EQ(line_of(86400123, frame), " 86400.123000 1  18FF1234x       Rx   d 1 AB\n");
  EXPECT_EQ(line_of(-500, frame), "-0.500000 1  18FF1234x       Rx   d 1 AB\n");

  CanRecord remote = test_frame(0, 0, false, true, "");
  remote.rtr = 1;
  remote.length = 3;
  EXPECT_EQ(line_of(1, remote), " 0.001000 1  0               Tx   r 3 \n");

  // The length says how many of the bytes count, at most 8.
  CanRecord longer = test_frame(0, 0x1, false, false, "\x01\x02\x03\x04\x05\x06\x07\x08\x09");
  longer.length = 15;
  EXPECT_EQ(line_of(0, longer), " 0.000000 1  1               Rx   d 8 01 02 03 04 05 06 07 08\n");
}

TEST(AscFormat, EachFileStartsAtItsFirstFrame) {
  auto format = asc_format_create();
  std::vector<CanRecord> frames = worked_example();
  MemoryStream out;
  EXPECT_EQ(run_format(*format->another(), out, {frames[1], frames[2]}), 2);
  EXPECT_NE(out.content().find("Triggerblock Thu Oct 17 11:05:53.135 am 2024\n"
                               " 0.000000 Start of measurement\n"
                               " 0.000000 1  18FF1234x "),
            std::string::npos);
  EXPECT_NE(out.content().find("\n 1.500000 1  7FF "), std::string::npos);

  // Without frames: not even the header.
  MemoryStream empty;
  EXPECT_EQ(run_format(*format, empty, {}), 0);
  EXPECT_EQ(empty.content(), "");
}

TEST(AscFormat, ShortWritesAreTold) {
  const std::string whole = [] {
    MemoryStream out;
    run_format(*asc_format_create(), out, worked_example());
    return out.content();
  }();
  const std::pair<size_t, const char*> cases[] = {
      {10, "E Could not write CAN header"},
      {whole.find(" 0.012000") + 4, "E Could not write CAN data"},
      {whole.size() - 1, "E Could not write CAN data"},  // the end line
  };
  for (const auto& [budget, message] : cases) {
    MemoryStream out;
    out.write_budget = static_cast<int64_t>(budget);
    testing::internal::CaptureStderr();
    EXPECT_EQ(run_format(*asc_format_create(), out, worked_example()), -1) << budget;
    EXPECT_EQ(masked_log(testing::internal::GetCapturedStderr()),
              std::vector<std::string>{message});
  }
}

}  // namespace
}  // namespace velmarch
