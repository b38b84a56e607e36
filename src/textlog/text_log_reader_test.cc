// The column heading and the record lines of a text log.

#include "textlog/text_log_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "diag/log.h"
#include "stream/buffered_stream.h"
#include "testing/text_logs.h"

namespace velmarch {
namespace {

// ---------------------------------------------------------------------------------------------
// Column heading

const char* const standard_heading = "Timestamp;Type;ID;Length;Data";

TEST(ColumnHeading, StandardColumns) {
  OpenLog log = open_log(log_text("", standard_heading, "1;0;1;0;\n"));
  ASSERT_TRUE(log.reader);
  const ColumnParser expected[MAX_COLUMNS] = {ColumnParser::timestamp, ColumnParser::type,
                                              ColumnParser::id,        ColumnParser::length,
                                              ColumnParser::data,      ColumnParser::none,
                                              ColumnParser::none};
  for (int i = 0; i < MAX_COLUMNS; ++i) EXPECT_EQ(log.reader->columns[i], expected[i]) << i;
  std::string head = log_text("", standard_heading, "");
  EXPECT_EQ(log.reader->data_offset, head.size());
  EXPECT_EQ(log.stream->tell().value_or(-1), static_cast<int64_t>(head.size()));
}

TEST(ColumnHeading, NamesAreExact) {
  OpenLog log = open_log(log_text("", "Timestamp;ID ;id;Data", ""));
  ASSERT_TRUE(log.reader);
  EXPECT_EQ(log.reader->columns[0], ColumnParser::timestamp);
  EXPECT_EQ(log.reader->columns[1], ColumnParser::none);  // trailing blank
  EXPECT_EQ(log.reader->columns[2], ColumnParser::none);
  EXPECT_EQ(log.reader->columns[3], ColumnParser::data);
}

TEST(ColumnHeading, OnlySevenColumnsAreMapped) {
  OpenLog log = open_log(log_text("", "a;b;c;d;e;f;Lost;Data", "1;2;3;4;5;6;7;11\n"));
  ASSERT_TRUE(log.reader);
  EXPECT_EQ(log.reader->columns[6], ColumnParser::lost);
  // The eighth column alone would be unknown: the heading does not open.
  EXPECT_FALSE(open_log(log_text("", "a;b;c;d;e;f;g;Data", "")).reader);
  CanRecord record;
  ASSERT_TRUE(text_log_next(*log.reader, record));
  EXPECT_EQ(record.length, 0);
  EXPECT_TRUE(record.data.empty());
}

TEST(ColumnHeading, LostOnlyOpensAndTimestampsAreZero) {
  OpenLog log = open_log(log_text("", "Lost", "5\n7\n"));
  ASSERT_TRUE(log.reader);
  CanRecord record;
  ASSERT_TRUE(text_log_next(*log.reader, record));
  EXPECT_EQ(record.timestamp, 0);
  EXPECT_EQ(record.kind, 1);
  EXPECT_EQ(record.bus, 1);
  ASSERT_TRUE(text_log_next(*log.reader, record));
  EXPECT_FALSE(text_log_next(*log.reader, record));
  EXPECT_FALSE(text_log_failed(*log.reader));
}

TEST(ColumnHeading, HeadingWithoutLineFeedAtTheEnd) {
  OpenLog log = open_log("# Value separator: \";\"\nType;ID");
  ASSERT_TRUE(log.reader);
  EXPECT_EQ(log.reader->columns[1], ColumnParser::id);
  CanRecord record;
  EXPECT_FALSE(text_log_next(*log.reader, record));
}

// ---------------------------------------------------------------------------------------------
// Record lines

// Reads every record of a log with the standard heading.
std::vector<CanRecord> records_of(const std::string& records,
                                  const char* heading = standard_heading,
                                  const std::string& header = "") {
  OpenLog log = open_log(log_text(header, heading, records));
  EXPECT_TRUE(log.reader);
  std::vector<CanRecord> out;
  if (!log.reader) return out;
  CanRecord record;
  while (text_log_next(*log.reader, record)) out.push_back(record);
  EXPECT_FALSE(text_log_failed(*log.reader));
  return out;
}

std::string bytes(const CanRecord& r) { return std::string(r.data.data(), r.data.size()); }

TEST(RecordLines, StandardLine) {
  auto r = records_of("20170307113030123;1;1F334455;8;1122334455667788\n");
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].extended, 1);
  EXPECT_EQ(r[0].tx, 0);
  EXPECT_EQ(r[0].id, 0x1F334455u);
  EXPECT_EQ(bytes(r[0]), "\x11\x22\x33\x44\x55\x66\x77\x88");
  EXPECT_EQ(r[0].length, 8);
  EXPECT_EQ(r[0].bus, 1);
  EXPECT_EQ(r[0].kind, 1);
  EXPECT_EQ(r[0].timestamp, 1488886230.123);
  EXPECT_EQ(r[0].fd + r[0].esi + r[0].brs + r[0].rtr, 0);
}

TEST(RecordLines, TypeCodes) {
  auto r = records_of("1;0;1;0;\n1;1;1;0;\n1;8;1;0;\n1;9;1;0;\n1; 9;1;0;\n1;9x;1;0;\n1;5;1;0;\n");
  ASSERT_EQ(r.size(), 7u);
  const int expected[7][2] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}, {0, 0}, {1, 1}, {0, 0}};
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(r[i].extended, expected[i][0]) << i;
    EXPECT_EQ(r[i].tx, expected[i][1]) << i;
  }
}

TEST(RecordLines, IdentifiersAreHexadecimal) {
  auto r = records_of("1;0;7ff;0;\n1;0;0x10;0;\n1;0;XYZ;0;\n1;0; 12;0;\n");
  ASSERT_EQ(r.size(), 4u);
  EXPECT_EQ(r[0].id, 0x7FFu);
  EXPECT_EQ(r[1].id, 0x10u);
  EXPECT_EQ(r[2].id, 0u);  // does not scan: stays cleared
  EXPECT_EQ(r[3].id, 0x12u);
}

TEST(RecordLines, DataBytes) {
  auto r = records_of(
      "1;0;1;8;1122\n"                  // Length before Data: Data counts
      "1;0;1;0;112\n"                   // odd count
      "1;0;1;0;112233445566778899AABB\n"  // 20+ digits: 8 bytes
      "1;0;1;0;\n"                      // empty
      "1;0;1;0;zz11\n");                // a pair that does not scan stores 0, still counted
  ASSERT_EQ(r.size(), 5u);
  EXPECT_EQ(r[0].length, 2);
  EXPECT_EQ(bytes(r[0]), "\x11\x22");
  EXPECT_EQ(r[1].length, 2);
  EXPECT_EQ(bytes(r[1]), "\x11\x02");
  EXPECT_EQ(r[2].length, 8);
  EXPECT_EQ(bytes(r[2]), "\x11\x22\x33\x44\x55\x66\x77\x88");
  EXPECT_EQ(r[3].length, 0);
  EXPECT_TRUE(r[3].data.empty());
  EXPECT_EQ(r[4].length, 2);
  EXPECT_EQ(bytes(r[4]), std::string("\x00\x11", 2));
}

TEST(RecordLines, LengthAfterDataOverrides) {
  auto r = records_of("1;0;1;1122;8\n1;0;1;1122;x\n", "Timestamp;Type;ID;Data;Length");
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].length, 8);
  EXPECT_EQ(bytes(r[0]), "\x11\x22");
  EXPECT_EQ(r[1].length, 2);  // does not scan: stays as Data set it
}

TEST(RecordLines, LengthIsAByte) {
  auto r = records_of("1;0;1;300;\n", "Timestamp;Type;ID;Length;Lost");
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].length, 44);
}

TEST(RecordLines, ShortAndLongLines) {
  auto r = records_of("1;9\n1;0;2;0;11;extra;fields;here\n");
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].extended, 1);
  EXPECT_EQ(r[0].id, 0u);
  EXPECT_EQ(r[1].id, 2u);
  EXPECT_EQ(bytes(r[1]), "\x11");
}

TEST(RecordLines, NothingOfAnEarlierLineSurvives) {
  auto r = records_of("1;9;ABC;8;1122334455667788\n1\n");
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[1].id, 0u);
  EXPECT_EQ(r[1].extended, 0);
  EXPECT_EQ(r[1].tx, 0);
  EXPECT_EQ(r[1].length, 0);
  EXPECT_TRUE(r[1].data.empty());
}

TEST(RecordLines, EmptyLineIsARecord) {
  // Its timestamp is the header's date and time alone; with no "Time:" line, 1970.
  auto r = records_of("\n\n");
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].timestamp, 0);
  EXPECT_EQ(r[0].id, 0u);
  EXPECT_EQ(r[0].kind, 1);
  EXPECT_EQ(r[0].bus, 1);
}

TEST(RecordLines, LastLineWithoutLineFeed) {
  auto r = records_of("1;0;1;0;11\n2;0;2;0;2233");
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(bytes(r[1]), "\x22\x33");
  EXPECT_EQ(r[1].length, 2);
}

TEST(RecordLines, FullLengthLineIsOneRecordAndNoRollover) {
  // Time format 1: an empty record would read as the header's second and roll the clock over.
  std::string padding(199 - std::string("30.100;0;1;0;11;").size(), 'x');
  std::string text = log_text(
      "# Time: 20170307T113006\n# Time format: 1\n# Time separator ms: \".\"\n",
      "Timestamp;Type;ID;Length;Data;Other", "30.100;0;1;0;11;" + padding + "\n30.200;0;2;0;22\n");
  auto log = open_log(text);
  ASSERT_TRUE(log.reader);
  CanRecord record;
  std::vector<double> times;
  while (text_log_next(*log.reader, record)) times.push_back(record.timestamp);
  ASSERT_EQ(times.size(), 2u);
  EXPECT_NEAR(times[0], 1488886230.1, 1e-6);
  EXPECT_NEAR(times[1], 1488886230.2, 1e-6);
}

TEST(RecordLines, CrLfRecords) {
  auto r = records_of("1;0;1;0;11\r\n2;0;2;0;2233\r\n");
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(bytes(r[0]), "\x11");
  EXPECT_EQ(bytes(r[1]), "\x22\x33");
}

TEST(RecordLines, LongFieldsAreHarmless) {
  std::string token(200, '9');
  for (int column = 0; column < 5; ++column) {
    std::string fields[5] = {"1", "0", "1", "0", "11"};
    fields[column] = token;
    std::string line = fields[0] + ";" + fields[1] + ";" + fields[2] + ";" + fields[3] + ";" +
                       fields[4] + "\n";
    auto r = records_of(line);
    ASSERT_FALSE(r.empty()) << column;
    EXPECT_LE(r[0].data.size(), 8);
    EXPECT_LE(r[0].length, 255);
  }
  for (char c : {'x', ';', ' ', 'F', '-'}) records_of(std::string(450, c) + "\n");
}

TEST(RecordLines, BackwardTimestampIsDroppedWithOneWarning) {
  OpenLog log = open_log(log_text("", standard_heading,
                                  "19700101000010000;0;1;0;\n"
                                  "19700101000009000;0;2;0;\n"
                                  "19700101000010000;0;3;0;\n"));
  ASSERT_TRUE(log.reader);
  CanRecord record;
  testing::internal::CaptureStderr();
  ASSERT_TRUE(text_log_next(*log.reader, record));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(record.timestamp, 10.0);
  EXPECT_EQ(record.id, 1u);
  testing::internal::CaptureStderr();
  ASSERT_TRUE(text_log_next(*log.reader, record));
  std::string written = testing::internal::GetCapturedStderr();
  EXPECT_EQ(record.timestamp, 10.0);  // equal is accepted
  EXPECT_EQ(record.id, 3u);
  EXPECT_NE(written.find(" W Skipping non-increasing timestamp: 10.000000\n"), std::string::npos)
      << written;
  EXPECT_EQ(written.find("Skipping", written.find("Skipping") + 1), std::string::npos);
  EXPECT_FALSE(text_log_next(*log.reader, record));
}

TEST(RecordLines, SeveralDropsWarnOncePerCallAlsoAtTheEnd) {
  OpenLog log = open_log(log_text("", "Timestamp;ID",
                                  "5000;1\n4000;2\n3000;3\n6000;4\n1000;5\n"));
  ASSERT_TRUE(log.reader);
  CanRecord record;
  ASSERT_TRUE(text_log_next(*log.reader, record));
  testing::internal::CaptureStderr();
  ASSERT_TRUE(text_log_next(*log.reader, record));
  std::string first = testing::internal::GetCapturedStderr();
  EXPECT_EQ(record.id, 4u);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(text_log_next(*log.reader, record));
  std::string second = testing::internal::GetCapturedStderr();
  // The value reported is the last record handed out, not the dropped line's.
  EXPECT_NE(first.find("timestamp: 5.000000\n"), std::string::npos) << first;
  EXPECT_EQ(first.find("Skipping", first.find("Skipping") + 1), std::string::npos);
  EXPECT_NE(second.find("timestamp: 6.000000\n"), std::string::npos) << second;
}

TEST(RecordLines, NoWarningWhileLastTimeIsZero) {
  // A first line with timestamp 0, then one at -1 s (before 1970: the conversion gives -1).
  OpenLog log = open_log(log_text("", "Timestamp;ID", ";1\n19691231235959000;2\n"));
  ASSERT_TRUE(log.reader);
  CanRecord record;
  ASSERT_TRUE(text_log_next(*log.reader, record));
  EXPECT_EQ(record.timestamp, 0);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(text_log_next(*log.reader, record));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(RecordLines, RecordDataIsReusedNotReallocated) {
  OpenLog log = open_log(log_text("", standard_heading,
                                  "1;0;1;8;1122334455667788\n2;0;1;1;11\n3;0;1;0;\n"
                                  "4;0;1;8;1122334455667788\n"));
  ASSERT_TRUE(log.reader);
  CanRecord record;
  ASSERT_TRUE(text_log_next(*log.reader, record));
  const char* storage = record.data.data();
  while (text_log_next(*log.reader, record)) EXPECT_EQ(record.data.data(), storage);
}

// ---------------------------------------------------------------------------------------------
// Reader lifecycle

TEST(ReaderLifecycle, RewindReturnsToTheFirstRecordAndKeepsState) {
  OpenLog log = open_log(log_text("", "Timestamp;ID", "5000;1\n6000;2\n"));
  ASSERT_TRUE(log.reader);
  CanRecord record;
  while (text_log_next(*log.reader, record)) {
  }
  EXPECT_EQ(text_log_rewind(*log.reader), log.reader->data_offset);
  // last_time is not reset: the first line, now below it, is dropped.
  testing::internal::CaptureStderr();
  ASSERT_TRUE(text_log_next(*log.reader, record));
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(record.id, 2u);
}

TEST(ReaderLifecycle, CloseLeavesTheStreamOpen) {
  OpenLog log = open_log(log_text("", "Timestamp;ID", "5000;1\n"));
  ASSERT_TRUE(log.reader);
  text_log_close(log.reader);
  EXPECT_FALSE(log.reader);
  EXPECT_EQ(log.stream->closes, 0);
  std::unique_ptr<TextLogReader> none;
  text_log_close(none);
}

TEST(ReaderLifecycle, OpenSeeksToTheStartFromAnywhere) {
  MemoryStream stream(log_text("", "Timestamp;ID", "5000;1\n"));
  (void)stream.seek(7, SEEK_SET);
  auto reader = text_log_open(&stream);
  ASSERT_TRUE(reader);
  EXPECT_EQ(reader->header.value_separator, ';');
}

TEST(ReaderLifecycle, ReadErrorFailsTheReader) {
  std::string text = log_text("", "Timestamp;ID", "5000;1\n6000;2\n7000;3\n");
  size_t second_record = text.find("6000");
  MemoryStream stream(text);
  stream.fail_reads_from = static_cast<int64_t>(second_record + 2);
  auto reader = text_log_open(&stream);
  ASSERT_TRUE(reader);
  text_log_rewind(*reader);
  CanRecord record;
  ASSERT_TRUE(text_log_next(*reader, record));
  EXPECT_FALSE(text_log_failed(*reader));
  EXPECT_FALSE(text_log_next(*reader, record));  // the broken line is not handed out
  EXPECT_TRUE(text_log_failed(*reader));
  EXPECT_FALSE(text_log_next(*reader, record));

  // An error inside the header or heading fails the open.
  MemoryStream early(text);
  early.fail_reads_from = 10;
  EXPECT_FALSE(text_log_open(&early));
  MemoryStream heading(text);
  heading.fail_reads_from = static_cast<int64_t>(text.find("Timestamp") + 3);
  EXPECT_FALSE(text_log_open(&heading));
}

}  // namespace
}  // namespace velmarch
