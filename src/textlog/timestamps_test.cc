// Record timestamps completed from the header's time, and rollover.

#include "textlog/timestamps.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "testing/text_logs.h"

namespace velmarch {
namespace {

std::string header(int time_format, const std::string& more = "",
                   const std::string& time = "# Time: 20170307T113006\n") {
  return time + "# Time format: " + std::to_string(time_format) + "\n" + more;
}

// The timestamps of the records handed out, and the reader's state at the end.
struct Result {
  std::vector<double> times;
  uint32_t rollover_total = 0;
  double last_raw_time = 0;
};

Result timestamps(const std::string& header_lines, const std::string& records) {
  Result result;
  OpenLog log = open_log(log_text(header_lines, "Timestamp;ID", records));
  EXPECT_TRUE(log.reader);
  if (!log.reader) return result;
  CanRecord record;
  testing::internal::CaptureStderr();  // drops warn; the reader tests check the message
  while (text_log_next(*log.reader, record)) result.times.push_back(record.timestamp);
  testing::internal::GetCapturedStderr();
  result.rollover_total = log.reader->clock.rollover_total();
  result.last_raw_time = log.reader->clock.last_raw_time();
  return result;
}

// A clock on its own, for the header time 20170307T113006 and a time format.
TimestampClock clock_for(uint8_t time_format, const char* time_text = "20170307T113006") {
  LogHeader header;
  std::strcpy(header.time_text, time_text);
  header.time_format = time_format;
  return TimestampClock(header);
}

// ---------------------------------------------------------------------------------------------
// Worked examples, exactly.

TEST(TimestampExamples, Format1SecondsAndMilliseconds) {
  Result r = timestamps(header(1), "30123;1\n");
  ASSERT_EQ(r.times.size(), 1u);
  EXPECT_EQ(r.times[0], 1488886230.123);
}

TEST(TimestampExamples, Format1Rollover) {
  Result r = timestamps(header(1), "59999;1\n00050;2\n00100;3\n");
  ASSERT_EQ(r.times.size(), 3u);
  EXPECT_EQ(r.times[0], 1488886259.999);
  EXPECT_EQ(r.times[1], 1488886260.050);
  EXPECT_EQ(r.times[2], 1488886260.100);  // every later line gets the 60 as well
  EXPECT_EQ(r.rollover_total, 60u);
}

TEST(TimestampExamples, Format1SmallBackwardStepIsNoRollover) {
  Result r = timestamps(header(1), "30600;1\n30100;2\n30700;3\n");
  ASSERT_EQ(r.times.size(), 2u);  // the line 0.5 s below is dropped
  EXPECT_EQ(r.times[0], 1488886230.600);
  EXPECT_EQ(r.times[1], 1488886230.700);
  EXPECT_EQ(r.rollover_total, 0u);
}

TEST(TimestampExamples, Format3WithSeparators) {
  Result r = timestamps(header(3, "# Time separator: \":\"\n# Time separator ms: \".\"\n"),
                        "11:30:07.123;1\n");
  ASSERT_EQ(r.times.size(), 1u);
  EXPECT_EQ(r.times[0], 1488886207.123);
}

TEST(TimestampExamples, Format4MonthRollover) {
  // Day, hour, minute, second and milliseconds: 2017-03-31 12:00:00.000, then 03-01 00:00:00.001.
  Result r = timestamps(header(4), "31120000000;1\n01000000001;2\n");
  ASSERT_EQ(r.times.size(), 2u);
  EXPECT_EQ(r.times[0], 1490961600.000);
  EXPECT_EQ(r.times[1], 1491004800.001);  // 2017-04-01 00:00:00.001 UTC
  EXPECT_EQ(r.rollover_total, 2678400u);  // the 31 days of March
}

TEST(TimestampExamples, Format0FullTimestampsNeverRollOver) {
  Result r = timestamps(header(0), "20180101000000500;1\n20160101000000000;2\n"
                                   "20180101000001000;3\n");
  ASSERT_EQ(r.times.size(), 2u);
  EXPECT_EQ(r.times[0], 1514764800.5);  // 2018-01-01: the header digits are all overwritten
  EXPECT_EQ(r.times[1], 1514764801.0);
  EXPECT_EQ(r.rollover_total, 0u);
}

TEST(TimestampExamples, WithoutTimeLine) {
  Result r = timestamps(header(1, "", ""), "113007123;1\n");
  ASSERT_EQ(r.times.size(), 1u);
  EXPECT_EQ(r.times[0], 41407.123);
}

// ---------------------------------------------------------------------------------------------
// Composition

TEST(TimestampClock, TemplateHeaderAndRecordDigits) {
  EXPECT_EQ(std::string(clock_for(TIME_FORMAT_MINUTES).base(), TIME_DIGITS), "20170307113006000");
  EXPECT_EQ(std::string(TimestampClock(LogHeader{}).base(), TIME_DIGITS), TIME_TEMPLATE);
  // The record's digits replace the last ones of the header's.
  TimestampClock clock = clock_for(TIME_FORMAT_SECONDS);
  EXPECT_EQ(clock.complete("30123"), 1488886230.123);
  EXPECT_EQ(clock.complete("201703071130301239"), 1488886230.123);  // the first 17 digits
  EXPECT_EQ(clock.complete(""), 1488886206.0 + 60);  // 24 s back: a rollover
}

TEST(TimestampClock, RolloverCarriesToEveryLaterTimestamp) {
  TimestampClock clock = clock_for(TIME_FORMAT_SECONDS);
  EXPECT_EQ(clock.complete("59999"), 1488886259.999);
  EXPECT_EQ(clock.complete("00050"), 1488886260.050);
  EXPECT_EQ(clock.rollover_total(), 60u);
  EXPECT_EQ(clock.complete("00100"), 1488886260.100);
  EXPECT_EQ(clock.last_raw_time(), 1488886260.100);
}

TEST(TimestampComposition, IgnoredCharacters) {
  // Date and time-and-date separators, the "T", in the header text and the record alike.
  std::string seps =
      "# Date separator: \"-\"\n# Time and date separator: \" \"\n# Time separator: \":\"\n";
  Result r = timestamps(header(0, seps, "# Time: 2017-03-07 11:30:06\n"),
                        "2017-03-07T11:30:30123;1\n");
  ASSERT_EQ(r.times.size(), 1u);
  EXPECT_EQ(r.times[0], 1488886230.123);
  // Without those separators the characters stay and stop the scan.
  r = timestamps(header(0), "11:30:30;1\n");
  ASSERT_EQ(r.times.size(), 1u);
  // "20170307111:30:30": 2017, 03, 07, hour 11, minute "1" (the ":" ends it), then ":" stops
  // the scan: 2017-03-07 11:01:00.
  EXPECT_EQ(r.times[0], 1488884460.0);
}

TEST(TimestampComposition, EmptyFieldGivesTheHeaderTime) {
  Result r = timestamps(header(1), ";1\n\n");
  ASSERT_EQ(r.times.size(), 2u);
  EXPECT_EQ(r.times[0], 1488886206.0);
  EXPECT_EQ(r.times[1], 1488886206.0);  // a line holding only a line feed
}

TEST(TimestampComposition, OutOfRangeFieldsAreNormalised) {
  Result r = timestamps(header(0), "20170332000000000;1\n");  // March 32nd is April 1st
  ASSERT_EQ(r.times.size(), 1u);
  EXPECT_EQ(r.times[0], 1491004800.0);
}

TEST(TimestampComposition, BeforeEpochIsMinusOneSecond) {
  Result r = timestamps(header(0), "19691231000000250;1\n");
  // Dropped: below 0, the start value of last_time; the raw value is kept.
  EXPECT_TRUE(r.times.empty());
  EXPECT_EQ(r.last_raw_time, -1 + 0.25);
}

TEST(TimestampComposition, LongFieldsAreCut) {
  // 23 characters are looked at, of which at most 17 digits are used.
  Result r = timestamps(header(0, "# Time separator: \":\"\n"),
                        "2017:03:07:11:30:30:123:99999;1\n");
  ASSERT_EQ(r.times.size(), 1u);
  // The first 23 characters, "2017:03:07:11:30:30:123", hold all 17 digits; ":99999" is cut.
  EXPECT_EQ(r.times[0], 1488886230.123);
  r = timestamps(header(0), "2017030711303012345678;1\n");
  ASSERT_EQ(r.times.size(), 1u);
  EXPECT_EQ(r.times[0], 1488886230.123);  // the first 17 digits
  r = timestamps(header(0), std::string(200, '9') + ";1\n");
  EXPECT_EQ(r.times.size(), 1u);  // harmless
  // Only non-digits: the scan reads nothing, the fields stay 0, before 1970: -1 s, dropped.
  r = timestamps(header(0), std::string(150, ':') + ";1\n");
  EXPECT_TRUE(r.times.empty());
  EXPECT_EQ(r.last_raw_time, -1.0);
}

TEST(TimestampComposition, LongHeaderTimeIsCut) {
  // time_text holds 19 characters; of its digits at most 17 are used.
  Result r = timestamps(header(1, "", "# Time: 2017030711300612345678\n"), "30123;1\n");
  ASSERT_EQ(r.times.size(), 1u);
  EXPECT_EQ(r.times[0], 1488886230.123);
}

// ---------------------------------------------------------------------------------------------
// Rollover

TEST(Rollover, Periods) {
  EXPECT_EQ(rollover_period(0, 1488886206.0), 0u);
  EXPECT_EQ(rollover_period(1, 1488886206.0), 60u);
  EXPECT_EQ(rollover_period(2, 1488886206.0), 3600u);
  EXPECT_EQ(rollover_period(3, 1488886206.0), 86400u);
  EXPECT_EQ(rollover_period(4, 1488886206.0), 31u * 86400u);         // from 2017-03-07
  EXPECT_EQ(rollover_period(4, 1486425600.0), 28u * 86400u);         // from 2017-02-07
  EXPECT_EQ(rollover_period(5, 1488886206.0), 365u * 86400u);        // to 2018-03-07
  EXPECT_EQ(rollover_period(5, 1456790400.5), 365u * 86400u);        // 2016-03-01 to 2017
  EXPECT_EQ(rollover_period(5, 1454284800.0), 366u * 86400u);        // 2016-02-01 to 2017
  EXPECT_EQ(rollover_period(6, 1488886206.0), 0u);
}

TEST(Rollover, Format2Hour) {
  Result r = timestamps(header(2), "5959999;1\n0000500;2\n");
  ASSERT_EQ(r.times.size(), 2u);
  EXPECT_EQ(r.times[0], 1488887999.999);
  EXPECT_EQ(r.times[1], 1488888000.500);
  EXPECT_EQ(r.rollover_total, 3600u);
}

TEST(Rollover, Format5Year) {
  // Month, day, hour, minute, second, milliseconds: 12-31 then 01-01 of the header's 2017.
  Result r = timestamps(header(5), "1231235959000;1\n0101000000000;2\n");
  ASSERT_EQ(r.times.size(), 2u);
  EXPECT_EQ(r.times[0], 1514764799.0);  // 2017-12-31 23:59:59
  EXPECT_EQ(r.times[1], 1514764800.0);  // 2018-01-01
  EXPECT_EQ(r.rollover_total, 365u * 86400u);
}

TEST(Rollover, AtMostOnePeriodPerLine) {
  // 2 minutes back in format 1 (the record's digits may carry minutes too): one period added,
  // and the time stays below.
  TimestampClock clock = clock_for(TIME_FORMAT_SECONDS);
  EXPECT_EQ(clock.complete("3259000"), 1488886379.0);
  EXPECT_EQ(clock.complete("3059000"), 1488886259.0 + 60);
  EXPECT_EQ(clock.rollover_total(), 60u);
}

TEST(Rollover, NoPeriodFormatNeverRollsOver) {
  Result r = timestamps(header(0), "20170307113059000;1\n20170307113000000;2\n");
  EXPECT_EQ(r.times.size(), 1u);
  EXPECT_EQ(r.rollover_total, 0u);
  EXPECT_EQ(r.last_raw_time, 1488886200.0);
}

TEST(Rollover, DroppedLineIsStillTheReference) {
  // 30.0, then 29.5 (dropped, but the reference), then 28.9: 0.6 s below 29.5: no rollover.
  Result r = timestamps(header(1), "30000;1\n29500;2\n28900;3\n31000;4\n");
  ASSERT_EQ(r.times.size(), 2u);
  EXPECT_EQ(r.times[1], 1488886231.0);
  EXPECT_EQ(r.rollover_total, 0u);
}

TEST(Rollover, StateSurvivesRewind) {
  OpenLog log = open_log(log_text(header(1), "Timestamp;ID", "59999;1\n00050;2\n"));
  ASSERT_TRUE(log.reader);
  CanRecord record;
  while (text_log_next(*log.reader, record)) {
  }
  EXPECT_EQ(log.reader->clock.rollover_total(), 60u);
  text_log_rewind(*log.reader);
  testing::internal::CaptureStderr();
  ASSERT_TRUE(text_log_next(*log.reader, record));
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(log.reader->clock.rollover_total(), 60u);
  // Its raw value now includes the 60 and lies above last_raw_time (00.050 + 60): no rollover.
  EXPECT_EQ(record.timestamp, 1488886319.999);
}

}  // namespace
}  // namespace velmarch
