#include "trc/trc_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "testing/memory_stream.h"
#include "testing/test_frames.h"
#include "testing/test_data.h"
#include "trc/trc_format.h"

namespace velmarch {
namespace {

class TrcWriterTest : public ::testing::Test {
 protected:
  // Feeds one file; answers what the output holds, or "(frames ended: n)" when end_file
  // answered n < 1: no output worth keeping.
  std::string convert(TrcWriter& writer, const std::vector<CanRecord>& frames) {
    MemoryStream out;
    TraceFileInfo info;
    EXPECT_TRUE(writer.new_file(info, out, false));
    for (const auto& record : frames) {
      if (!writer.frame(record)) break;
    }
    int64_t ended = writer.end_file();
    if (ended < 1) return "(frames ended: " + std::to_string(ended) + ")";
    return out.content();
  }

  std::unique_ptr<TrcWriter> make(int32_t version) { return trc_writer_create(version); }
};

TEST_F(TrcWriterTest, WorkedExamplesComeOutByteForByte) {
  EXPECT_EQ(convert(*make(TRC_VERSION_1_1), worked_example()), read_test_data("example_v1_1.trc"));
  EXPECT_EQ(convert(*make(TRC_VERSION_2_1), worked_example()), read_test_data("example_v2_1.trc"));
  EXPECT_EQ(make(TRC_VERSION_2_1)->extension(), ".trc");
}

TEST_F(TrcWriterTest, OnlyTheKnownVersionsExist) {
  EXPECT_FALSE(make(0));
  EXPECT_FALSE(make(4));
  EXPECT_TRUE(make(TRC_VERSION_2_1_RESERVED));
  EXPECT_TRUE(make(TRC_VERSION_2_1));
}

TEST_F(TrcWriterTest, FileWithoutFramesHoldsNone) {
  auto writer = make(TRC_VERSION_2_1);
  CanRecord other = test_frame(5, 1, false, false, "");
  other.kind = 7;  // not a frame: accepted, not written
  EXPECT_EQ(convert(*writer, {other}), "(frames ended: 0)");
  EXPECT_EQ(convert(*writer, {}), "(frames ended: 0)");
}

TEST_F(TrcWriterTest, CanFdInVersionOneSetsTheStartButTakesNoNumber) {
  auto writer = make(TRC_VERSION_1_1);
  CanRecord fd = test_frame(100.0, 0x10, false, false, "\xAA");
  fd.fd = 1;
  EXPECT_EQ(convert(*writer, {fd}), "(frames ended: 0)");

  CanRecord after = test_frame(100.25, 0x20, false, false, "\x01");
  std::string text = convert(*writer, {fd, after});
  EXPECT_NE(text.find("\n     1)       250.0 Rx        0020 1  01\n"), std::string::npos) << text;
}

TEST_F(TrcWriterTest, VersionTwoTypesRemoteFramesAndWideLengths) {
  auto writer = make(TRC_VERSION_2_1);
  CanRecord remote = test_frame(1.0, 0x100, false, false, "");
  remote.rtr = 1;
  remote.length = 4;
  // A record holds a classic frame's 8 bytes at most; the length column says what the frame did.
  CanRecord fd = test_frame(1.0, 0x1ABCDEF, true, true,
                            std::string("\x00\x01\x02\x03\x04\x05\x06\x07", 8));
  fd.fd = 1;
  fd.brs = 1;
  fd.length = 12;
  std::string text = convert(*writer, {remote, fd});
  EXPECT_NE(text.find("      1         0.000 RR 1     0100 Rx 4    \n"), std::string::npos);
  EXPECT_NE(text.find("      2         0.000 FB 1 01ABCDEF Tx 12   00 01 02 03 04 05 06 07\n"),
            std::string::npos)
      << text;
}

TEST_F(TrcWriterTest, VersionOneRemoteFrameShowsRtr) {
  auto writer = make(TRC_VERSION_1_1);
  CanRecord remote = test_frame(1.0, 0x100, false, true, "");
  remote.rtr = 1;
  remote.length = 2;
  EXPECT_NE(convert(*writer, {remote}).find("     1)         0.0 Tx        0100 2  RTR\n"),
            std::string::npos);
}

TEST(TrcStartTime, FractionRoundingToAWholeDayCarries) {
  SmallString line;
  trc_append_start_time(line, 1729163153.123);
  EXPECT_EQ(line.view(), "45582.4624204051\n");

  line.clear();
  trc_append_start_time(line, (20014 - 1e-11) * 86400);
  EXPECT_EQ(line.view(), "45583.0000000000\n");

  line.clear();
  trc_append_start_time(line, 0);
  EXPECT_EQ(line.view(), "25569.0000000000\n");
}

TEST_F(TrcWriterTest, EachFileNumbersFromOne) {
  auto writer = make(TRC_VERSION_1_1);
  EXPECT_EQ(convert(*writer, worked_example()), read_test_data("example_v1_1.trc"));
  std::vector<CanRecord> later = worked_example();
  for (auto& record : later) record.timestamp += 3600;
  EXPECT_NE(convert(*writer, later).find("     1)         0.0 Rx"), std::string::npos);
  // So does another writer, beside this one.
  EXPECT_EQ(convert(static_cast<TrcWriter&>(*writer->another()), worked_example()),
            read_test_data("example_v1_1.trc"));
}

// A trace cut short looks like a whole one to whoever reads it next: a failed write makes
// end_file say so, so that it is never published.
TEST_F(TrcWriterTest, WriteFailuresAreToldAndEndTheFile) {
  std::string full = read_test_data("example_v1_1.trc");
  struct Case {
    int32_t version;
    int64_t budget;
    const char* message;  // null: none of the version's own
  } cases[] = {
      {TRC_VERSION_1_1, 10, " E Could not write CAN header\n"},
      {TRC_VERSION_1_1, static_cast<int64_t>(full.find("     2)")),
       " E Could not write CAN data\n"},
      {TRC_VERSION_2_1, 100, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.budget);
    auto writer = make(c.version);
    MemoryStream out;
    out.write_budget = c.budget;
    TraceFileInfo info;
    ASSERT_TRUE(writer->new_file(info, out, false));
    testing::internal::CaptureStderr();
    bool all = true;
    for (const auto& record : worked_example()) all = all && writer->frame(record);
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(all);
    EXPECT_EQ(writer->end_file(), -1);
    if (c.message != nullptr) {
      EXPECT_NE(log.find(c.message), std::string::npos) << log;
    } else {
      EXPECT_EQ(log.find("Could not write"), std::string::npos) << log;
    }
  }
}

}  // namespace
}  // namespace velmarch
