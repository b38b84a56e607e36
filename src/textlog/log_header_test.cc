// The header block and its parsers.

#include "textlog/log_header.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/platform.h"
#include "testing/text_logs.h"

namespace velmarch {
namespace {

// The header of a log whose header block holds the given lines, followed by a usable heading.
LogHeader header_of(const std::string& lines) {
  OpenLog log = open_log(lines + "# Value separator: \";\"\nTimestamp;ID\n");
  EXPECT_TRUE(log.reader) << lines;
  return log.reader ? log.reader->header : LogHeader{};
}

LogHeader header_line(const std::string& line) {
  LogHeader h;
  char buffer[TEXT_LINE_BUFFER] = {};
  std::strncpy(buffer, line.c_str(), TEXT_LINE_MAX);
  log_header_apply_line(h, buffer);
  return h;
}

TEST(HeaderFields, TableHasSixteenLabelsInOrder) {
  const char* expected[] = {"Logger type: ", "HW rev: ", "FW rev: ", "Logger ID: ",
                            "Session No.: ", "Split No.: ", "Time: ", "Value separator: ",
                            "Time format: ", "Time separator: ", "Time separator ms: ",
                            "Date separator: ", "Time and date separator: ", "Bit-rate: ",
                            "Silent mode: ", "Cyclic mode: "};
  for (int i = 0; i < HEADER_FIELD_COUNT; ++i) EXPECT_STREQ(header_fields[i].label, expected[i]);
}

TEST(HeaderFields, MissingLinesLeaveDefaults) {
  LogHeader h = header_of("# nothing known here\n");
  EXPECT_EQ(h.logger_type, 0);
  EXPECT_STREQ(h.hw_rev, "");
  EXPECT_STREQ(h.logger_id, "");
  EXPECT_EQ(h.session_no, 0);
  EXPECT_EQ(h.split_no, 0);
  EXPECT_EQ(h.header_time, 0);
  EXPECT_STREQ(h.time_text, "");
  EXPECT_EQ(h.time_format, 0);
  EXPECT_EQ(h.time_separator, 0);
  EXPECT_EQ(h.bit_rate, 0);
  EXPECT_EQ(h.silent_mode, 0);
  EXPECT_EQ(h.value_separator, ';');
}

TEST(HeaderFields, TypicalHeader) {
  LogHeader h = header_of(
      "# Logger type: TarvikC\n# HW rev: 2.1\n# FW rev: 4.05\n# Logger ID: LGR-0042\n"
      "# Session No.: 17\n# Split No.: 3\n# Time format: 4\n# Time separator: \":\"\n"
      "# Time separator ms: \".\"\n# Date separator: \"-\"\n# Time and date separator: \" \"\n"
      "# Bit-rate: 500000\n# Silent mode: true\n# Cyclic mode: false\n");
  EXPECT_EQ(h.logger_type, 2);
  EXPECT_STREQ(h.hw_rev, "2.1");
  EXPECT_STREQ(h.fw_rev, "4.05");
  EXPECT_STREQ(h.logger_id, "LGR-0042");
  EXPECT_EQ(h.session_no, 17);
  EXPECT_EQ(h.split_no, 3);
  EXPECT_EQ(h.time_format, 4);
  EXPECT_EQ(h.time_separator, ':');
  EXPECT_EQ(h.time_separator_ms, '.');
  EXPECT_EQ(h.date_separator, '-');
  EXPECT_EQ(h.time_and_date_separator, ' ');
  EXPECT_EQ(h.bit_rate, 500000);
  EXPECT_EQ(h.silent_mode, 1);
  EXPECT_EQ(h.cyclic_mode, 0);
}

TEST(HeaderFields, IntegersFollowPercentIRules) {
  EXPECT_EQ(header_line("# Session No.: 010\n").session_no, 8);
  EXPECT_EQ(header_line("# Session No.: 0x10\n").session_no, 16);
  EXPECT_EQ(header_line("# Session No.: 012\n").session_no, 10);
  EXPECT_EQ(header_line("# Split No.: -5\n").split_no, -5);
  EXPECT_EQ(header_line("# Bit-rate: 250000 kbit\n").bit_rate, 250000);
  EXPECT_EQ(header_line("# Bit-rate: fast\n").bit_rate, 0);
  EXPECT_EQ(header_line("# Time format: 0x101\n").time_format, 1);  // low 8 bits
  EXPECT_EQ(header_line("# Time format: 3\n").time_format, 3);
}

TEST(HeaderFields, QuotedSeparators) {
  EXPECT_EQ(header_line("# Value separator: \";\"\n").value_separator, ';');
  EXPECT_EQ(header_line("# Value separator: ;\n").value_separator, 0);
  EXPECT_EQ(header_line("# Value separator: \"\"\n").value_separator, 0);
  EXPECT_EQ(header_line("# Value separator: \";\" \n").value_separator, 0);  // four characters
  EXPECT_EQ(header_line("# Value separator: ';'\n").value_separator, 0);
  EXPECT_EQ(header_line("# Date separator: \"/\"\n").date_separator, '/');
  // A later unreadable line stores 0 (the line is read, its value is "no separator").
  EXPECT_EQ(header_of("# Time separator: \":\"\n# Time separator: :\n").time_separator, 0);
}

TEST(HeaderFields, LoggerTypeIsExact) {
  EXPECT_EQ(header_line("# Logger type: TarvikB\n").logger_type, 1);
  EXPECT_EQ(header_line("# Logger type: TarvikB \n").logger_type, 0);
  EXPECT_EQ(header_line("# Logger type: TarvikC").logger_type, 2);
  EXPECT_EQ(header_line("# Logger type: tarvikc\n").logger_type, 0);
  EXPECT_EQ(header_of("# Logger type: TarvikC\n# Logger type: Other\n").logger_type, 2);
}

TEST(HeaderFields, ModesAreExactTrueOrFalse) {
  EXPECT_EQ(header_line("# Silent mode: true\n").silent_mode, 1);
  EXPECT_EQ(header_of("# Silent mode: true\n# Silent mode: TRUE\n").silent_mode, 1);
  EXPECT_EQ(header_of("# Silent mode: true\n# Silent mode: false\n").silent_mode, 0);
  EXPECT_EQ(header_of("# Cyclic mode: true\n# Cyclic mode: false \n").cyclic_mode, 1);
  EXPECT_EQ(header_line("# Cyclic mode: TRUE\n").cyclic_mode, 0);
}

TEST(HeaderFields, TwoLabelsOnALineBothApplyToTheFirstValue) {
  // Both parsers run, in table order, and both read the text after the line's first ": ".
  LogHeader h = header_line("# Session No.: 12 Split No.: 3\n");
  EXPECT_EQ(h.session_no, 12);
  EXPECT_EQ(h.split_no, 12);
  h = header_line("# HW rev: 1.0 FW rev: 2.0\n");
  EXPECT_STREQ(h.hw_rev, "1.0");
  EXPECT_STREQ(h.fw_rev, "1.0");
  // A label anywhere in the line counts.
  EXPECT_EQ(header_line("#xx Bit-rate: 125000\n").bit_rate, 125000);
}

TEST(HeaderFields, LaterLineWins) {
  LogHeader h = header_of("# Split No.: 1\n# Split No.: 2\n# Split No.: x\n");
  EXPECT_EQ(h.split_no, 2);  // the unreadable third line changes nothing
}

TEST(HeaderFields, TokensAreCutToTheirFields) {
  LogHeader h = header_line("# HW rev: ABCDEFG\n");
  EXPECT_STREQ(h.hw_rev, "ABCD");
  EXPECT_STREQ(header_line("# FW rev:   12 34\n").fw_rev, "12");
  std::string id(30, 'I');
  id[0] = 'A';
  EXPECT_EQ(std::string(header_line("# Logger ID: " + id + "\n").logger_id), id.substr(0, 21));
  EXPECT_STREQ(header_line("# Time: 20170307T113006 and more text\n").time_text,
               "20170307T113006 and");
}

TEST(HeaderTime, ConvertedAsLocalStandardTime) {
  LogHeader h = header_line("# Time: 20170307T113006\r\n");
  EXPECT_STREQ(h.time_text, "20170307T113006");
  struct tm expected {};
  expected.tm_year = 117;
  expected.tm_mon = 2;
  expected.tm_mday = 7;
  expected.tm_hour = 11;
  expected.tm_min = 30;
  expected.tm_sec = 6;
  expected.tm_isdst = 0;
  EXPECT_EQ(h.header_time, static_cast<double>(platform_local_to_time(&expected)));
}

TEST(HeaderTime, InUtcZone) {
  const char* saved = std::getenv("TZ");
  std::string old = saved != nullptr ? saved : "";
  platform_set_time_zone("UTC");
  LogHeader h = header_line("# Time: 20170307T113006\n");
  // A scan that stops early leaves the later fields 0.
  LogHeader partial = header_line("# Time: 20170307 113006\n");
  platform_set_time_zone(saved != nullptr ? old.c_str() : nullptr);
  EXPECT_EQ(h.header_time, 1488886206.0);
  EXPECT_EQ(partial.header_time, 1488844800.0);  // 2017-03-07 00:00:00
  EXPECT_STREQ(partial.time_text, "20170307 113006");
}

TEST(HeaderBlock, CrLfReadsLikeLf) {
  std::string lf =
      "# Logger type: TarvikB\n# Session No.: 5\n# Logger ID: ABC\n# Silent mode: true\n"
      "# Value separator: \";\"\n# Time: 20170307T113006\nTimestamp;ID\n";
  std::string crlf;
  for (char c : lf) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  OpenLog a = open_log(lf);
  OpenLog b = open_log(crlf);
  ASSERT_TRUE(a.reader);
  ASSERT_TRUE(b.reader);
  EXPECT_TRUE(a.reader->header == b.reader->header);
  EXPECT_EQ(b.reader->header.logger_type, 1);
  EXPECT_EQ(b.reader->header.silent_mode, 1);
  EXPECT_STREQ(b.reader->header.logger_id, "ABC");
  EXPECT_EQ(b.reader->columns[1], ColumnParser::id);
}

TEST(HeaderBlock, LongLineIsCutAndItsRestIsTheNextLine) {
  // 199 characters, then the rest, which ends the header block and is the heading.
  std::string head = "# Bit-rate: 1000 ";
  head += std::string(199 - head.size(), 'x');
  OpenLog log = open_log("# Value separator: \";\"\n" + head + "Timestamp;ID\n1;7FF\n");
  ASSERT_TRUE(log.reader);
  EXPECT_EQ(log.reader->header.bit_rate, 1000);
  EXPECT_EQ(log.reader->columns[0], ColumnParser::timestamp);
  EXPECT_EQ(log.reader->columns[1], ColumnParser::id);

  // A rest that starts with "#" is a header line of its own.
  std::string pad = "# comment ";
  pad += std::string(199 - pad.size(), 'y');
  OpenLog more = open_log("# Split No.: 2\n" + pad + "# Split No.: 9\n" +
                          "# Value separator: \";\"\nTimestamp\n");
  ASSERT_TRUE(more.reader);
  EXPECT_EQ(more.reader->header.split_no, 9);
}

TEST(HeaderBlock, LongTokensAreHarmless) {
  // A 200-character token in every header line: nothing is written beyond a field. As a line
  // it is cut at 199 characters (the parsers see that), and its rest then ends the header.
  for (char token_char : {'7', 'x', '"', ' '}) {
    std::string token(200, token_char);
    for (const HeaderField& field : header_fields) {
      std::string line = "# " + std::string(field.label) + token + "\n";
      LogHeader h = header_line(line);
      EXPECT_LE(std::strlen(h.hw_rev), 4u);
      EXPECT_LE(std::strlen(h.fw_rev), 4u);
      EXPECT_LE(std::strlen(h.logger_id), 21u);
      EXPECT_LE(std::strlen(h.time_text), 19u);
      EXPECT_FALSE(open_log(line + "# Value separator: \";\"\nTimestamp;ID\n").reader);
      // After the label, a token of 150 characters keeps the line whole.
      OpenLog log = open_log("# " + std::string(field.label) + token.substr(0, 150) +
                             "\n# Value separator: \";\"\nTimestamp;ID\n");
      ASSERT_TRUE(log.reader) << field.label;
    }
  }
  EXPECT_EQ(header_line("# HW rev: " + std::string(200, 'Q')).hw_rev, std::string("QQQQ"));
  EXPECT_EQ(header_line("# Logger ID: " + std::string(200, 'Q')).logger_id,
            std::string(21, 'Q'));
}

TEST(HeaderBlock, FilesThatAreNotTextLogs) {
  EXPECT_FALSE(text_log_open(nullptr));
  EXPECT_FALSE(open_log("Timestamp;ID\n").reader);                        // no "#" line
  EXPECT_FALSE(open_log("# Value separator: \";\"\n# x\n").reader);       // only "#" lines
  EXPECT_FALSE(open_log("").reader);
  EXPECT_FALSE(open_log("# Value separator: \";\"\nFoo;Bar\n1;2\n").reader);  // no known column
  // Without a separator the whole heading, line feed included, is one unknown name.
  EXPECT_FALSE(open_log("# Logger type: TarvikA\nTimestamp\n1\n").reader);
}

}  // namespace
}  // namespace velmarch
