// Record timestamps completed from the header's time, and rollover.

#include "textlog/timestamps.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "diag/log.h"
#include "testing/masked_log.h"
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

// ---------------------------------------------------------------------------------------------
// Rollovers a user can see: a step back of less than half a period is read as a wrap all the
// same, so the trace keeps its bytes, but it is told.

// The timestamps handed out and the lines logged at a level, for the log "card/a.txt", whose
// first record is line 6.
struct Told {
  std::vector<double> times;
  std::vector<std::string> log;
};

Told told(const std::string& header_lines, const std::string& records, int level = LOG_INFO) {
  Told result;
  OpenLog log = open_log(log_text(header_lines, "Timestamp;ID", records));
  EXPECT_TRUE(log.reader);
  if (!log.reader) return result;
  log.reader->name = "card/a.txt";
  int saved = log_output_level;
  log_set_output_level(level);
  CanRecord record;
  testing::internal::CaptureStderr();
  while (text_log_next(*log.reader, record)) result.times.push_back(record.timestamp);
  result.log = masked_log(testing::internal::GetCapturedStderr());
  log_set_output_level(saved);
  return result;
}

std::string ran_back(const char* step, int line, const char* period) {
  return std::string("W Timestamp ran back ") + step + " s at line " + std::to_string(line) +
         " of card/a.txt: read as a rollover, later frames move " + period + " s";
}

TEST(RolloverWarning, ShortStepsBackAreToldAndStillMoveLaterFrames) {
  struct Case {
    const char* name;
    int time_format;
    std::string records;
    std::vector<double> times;
    std::string warning;
  } cases[] = {
      {"a clock set back 1.2 s", 3, "113006125;1\n113004925;2\n113005000;3\n",
       {1488886206.125, 1488886204.925 + 86400, 1488886205.0 + 86400},
       ran_back("1.200", 7, "86400")},
      // The digits left stand for 11:13:00, the letters stop the scan.
      {"a corrupted field", 3, "113006125;1\n11300XYZ;2\n",
       {1488886206.125, 1488885180.0 + 86400}, ran_back("1026.125", 7, "86400")},
      {"ten minutes back in an hour clock", 2, "4000000;1\n3000000;2\n",
       {1488886800.0, 1488886200.0 + 3600}, ran_back("600.000", 7, "3600")},
      {"ten seconds back in a minute clock", 1, "30000;1\n20000;2\n",
       {1488886230.0, 1488886220.0 + 60}, ran_back("10.000", 7, "60")},
      // Day 15 to day 10 of March 2017: the month from the 10th has 31 days.
      {"five days back in a month clock", 4, "15120000000;1\n10120000000;2\n",
       {1489579200.0, 1489147200.0 + 2678400}, ran_back("432000.000", 7, "2678400")},
      {"three months back in a year clock", 5, "0615120000000;1\n0315120000000;2\n",
       {1497528000.0, 1489579200.0 + 31536000}, ran_back("7948800.000", 7, "31536000")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Told result = told(header(c.time_format), c.records);
    EXPECT_EQ(result.times, c.times);
    EXPECT_EQ(result.log, std::vector<std::string>{c.warning});
  }
}

TEST(RolloverWarning, RealWrapsAreToldOnlyAtTheDebugLevel) {
  struct Case {
    const char* name;
    int time_format;
    std::string records;
    std::vector<double> times;
    std::string line;
  } cases[] = {
      {"midnight", 3, "235959900;1\n000000100;2\n", {1488931199.9, 1488931200.1},
       "D Timestamp rolled over at line 7 of card/a.txt: later frames move 86400 s"},
      {"the top of the hour", 2, "5959999;1\n0000500;2\n", {1488887999.999, 1488888000.5},
       "D Timestamp rolled over at line 7 of card/a.txt: later frames move 3600 s"},
      {"the top of the minute", 1, "59999;1\n00050;2\n", {1488886259.999, 1488886260.05},
       "D Timestamp rolled over at line 7 of card/a.txt: later frames move 60 s"},
      {"the end of the month", 4, "31235959000;1\n01000000001;2\n",
       {1491004799.0, 1491004800.001},
       "D Timestamp rolled over at line 7 of card/a.txt: later frames move 2678400 s"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Told quiet = told(header(c.time_format), c.records);
    EXPECT_EQ(quiet.times, c.times);
    EXPECT_TRUE(quiet.log.empty()) << quiet.log[0];
    Told debug = told(header(c.time_format), c.records, LOG_VERBOSE);
    EXPECT_EQ(debug.times, c.times);
    EXPECT_EQ(debug.log, std::vector<std::string>{c.line});
  }
}

TEST(RolloverWarning, StepsOfOneSecondOrLessAreNoRollover) {
  Told result = told(header(3), "113006125;1\n113005125;2\n113006200;3\n", LOG_VERBOSE);
  EXPECT_EQ(result.times, (std::vector<double>{1488886206.125, 1488886206.2}));
  EXPECT_EQ(result.log, (std::vector<std::string>{
                            "D Dropped line 7 of card/a.txt: its timestamp runs back 1.000 s",
                            "W Skipping non-increasing timestamp: 1488886206.125000"}));
  // Without a period nothing is ever read as a wrap.
  result = told(header(0), "20170307113059000;1\n20170307103000000;2\n");
  EXPECT_EQ(result.times, std::vector<double>{1488886259.0});
  EXPECT_EQ(result.log,
            std::vector<std::string>{"W Skipping non-increasing timestamp: 1488886259.000000"});
}

TEST(RolloverWarning, LinesAreCountedAsAnEditorCountsThem) {
  // A line of more than 199 characters is read in pieces, but it is one line: the piece after
  // the cut is still line 7, and the lines after it keep their numbers.
  std::string cut = "113006126;2" + std::string(188, ' ');
  ASSERT_EQ(cut.size(), 199u);
  std::string records = "113006125;1\n" + cut + "113004925;3\n113004999;4\n113003000;5\n";
  Told result = told(header(3), records);
  EXPECT_EQ(result.log, (std::vector<std::string>{ran_back("1.201", 7, "86400"),
                                                  ran_back("1.999", 9, "86400")}));
}

TEST(DroppedLines, TwentyAreNamedAtTheDebugLevelTheRestCounted) {
  std::string records = "113006000;1\n";
  for (int i = 0; i < 25; ++i) records += "113005500;2\n";
  records += "113007000;3\n";
  Told result = told(header(3), records, LOG_VERBOSE);
  EXPECT_EQ(result.times.size(), 2u);
  ASSERT_EQ(result.log.size(), 22u);
  EXPECT_EQ(result.log[0], "D Dropped line 7 of card/a.txt: its timestamp runs back 0.500 s");
  EXPECT_EQ(result.log[19], "D Dropped line 26 of card/a.txt: its timestamp runs back 0.500 s");
  EXPECT_EQ(result.log[20], "W Skipping non-increasing timestamp: 1488886206.000000");
  EXPECT_EQ(result.log[21], "D Dropped 5 more lines of card/a.txt whose timestamps ran back");
  // At the default level only the warning is left.
  EXPECT_EQ(told(header(3), records).log,
            std::vector<std::string>{"W Skipping non-increasing timestamp: 1488886206.000000"});
}

}  // namespace
}  // namespace velmarch
