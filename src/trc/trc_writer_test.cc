#include "trc/trc_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <regex>
#include <string>
#include <vector>

#include "fs/path_value.h"
#include "testing/memory_folder_root.h"
#include "testing/test_data.h"
#include "trc/trc_format.h"

namespace velmarch {
namespace {

CanRecord frame_of(double timestamp, uint32_t id, bool extended, bool tx,
                   std::vector<unsigned char> data) {
  CanRecord record;
  record.timestamp = timestamp;
  record.bus = 1;
  record.id = id;
  record.kind = 1;
  record.extended = extended ? 1 : 0;
  record.tx = tx ? 1 : 0;
  record.data.append(data.data(), static_cast<int64_t>(data.size()));
  record.length = static_cast<uint8_t>(data.size());
  return record;
}

std::vector<CanRecord> worked_example() {
  const double t0 = 1729163153.123;
  return {frame_of(t0, 0x123, false, false, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}),
          frame_of(t0 + 0.012, 0x18FF1234, true, true, {0x01, 0x02, 0x03}),
          frame_of(t0 + 1.512, 0x7FF, false, false, {})};
}

class TrcWriterTest : public ::testing::Test {
 protected:
  TraceFileInfo info_for(const std::string& output) {
    TraceFileInfo info;
    info.input_path.append(StrView(output + ".txt"));
    info.output_path.append(StrView(output));
    return info;
  }

  // Feeds one file; answers what end_file said.
  bool convert(TrcWriter& writer, const std::string& output, const std::vector<CanRecord>& frames) {
    TraceFileInfo info = info_for(output);
    if (writer.new_file(info, false)) {
      for (const auto& record : frames) {
        if (!writer.frame(record)) break;
      }
    }
    bool ended = writer.end_file(info);
    return writer.publish(info) && ended;
  }

  std::unique_ptr<TrcWriter> make(int32_t version) { return trc_writer_create(&root, version); }

  MemoryFolderRoot root;
};

TEST_F(TrcWriterTest, WorkedExamplesComeOutByteForByte) {
  auto v1 = make(TRC_VERSION_1_1);
  ASSERT_TRUE(convert(*v1, "a", worked_example()));
  EXPECT_EQ(root.file("a.trc"), read_test_data("example_v1_1.trc"));

  auto v2 = make(TRC_VERSION_2_1);
  ASSERT_TRUE(convert(*v2, "b", worked_example()));
  EXPECT_EQ(root.file("b.trc"), read_test_data("example_v2_1.trc"));
}

TEST_F(TrcWriterTest, OnlyVersionsOneAndTwoExist) {
  EXPECT_FALSE(make(0));
  EXPECT_FALSE(make(3));
  EXPECT_TRUE(make(TRC_VERSION_2_1));
}

TEST_F(TrcWriterTest, FileWithoutFramesLeavesNoOutput) {
  auto writer = make(TRC_VERSION_2_1);
  CanRecord other = frame_of(5, 1, false, false, {});
  other.kind = 7;  // not a frame: accepted, not written
  EXPECT_TRUE(convert(*writer, "empty", {other}));
  EXPECT_FALSE(writer->kept());
  EXPECT_TRUE(root.files().empty());  // its temporary file went too
}

TEST_F(TrcWriterTest, CanFdInVersionOneSetsTheStartButTakesNoNumber) {
  auto writer = make(TRC_VERSION_1_1);
  CanRecord fd = frame_of(100.0, 0x10, false, false, {0xAA});
  fd.fd = 1;
  EXPECT_TRUE(convert(*writer, "fd_only", {fd}));
  EXPECT_FALSE(root.has_file("fd_only.trc"));

  CanRecord after = frame_of(100.25, 0x20, false, false, {0x01});
  ASSERT_TRUE(convert(*writer, "mixed", {fd, after}));
  std::string text = root.file("mixed.trc");
  EXPECT_NE(text.find("\n     1)       250.0 Rx        0020 1  01\n"), std::string::npos) << text;
}

TEST_F(TrcWriterTest, VersionTwoTypesRemoteFramesAndWideLengths) {
  auto writer = make(TRC_VERSION_2_1);
  CanRecord remote = frame_of(1.0, 0x100, false, false, {});
  remote.rtr = 1;
  remote.length = 4;
  CanRecord fd = frame_of(1.0, 0x1ABCDEF, true, true,
                          {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
  fd.fd = 1;
  fd.brs = 1;
  fd.length = 12;
  ASSERT_TRUE(convert(*writer, "types", {remote, fd}));
  std::string text = root.file("types.trc");
  EXPECT_NE(text.find("      1         0.000 RR 1     0100 Rx 4    \n"), std::string::npos);
  EXPECT_NE(text.find("      2         0.000 FB 1 01ABCDEF Tx 12   00 01 02 03 04 05 06 07 08 "
                      "09 0A 0B\n"),
            std::string::npos)
      << text;
}

TEST_F(TrcWriterTest, VersionOneRemoteFrameShowsRtr) {
  auto writer = make(TRC_VERSION_1_1);
  CanRecord remote = frame_of(1.0, 0x100, false, true, {});
  remote.rtr = 1;
  remote.length = 2;
  ASSERT_TRUE(convert(*writer, "rtr", {remote}));
  EXPECT_NE(root.file("rtr.trc").find("     1)         0.0 Tx        0100 2  RTR\n"),
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

TEST_F(TrcWriterTest, EachFileNumbersFromOneAndOverwrites) {
  root.add_file("run.trc", "old content that is longer than the new one, by far, really\n");
  auto writer = make(TRC_VERSION_1_1);
  ASSERT_TRUE(convert(*writer, "run", worked_example()));
  std::vector<CanRecord> later = worked_example();
  for (auto& record : later) record.timestamp += 3600;
  ASSERT_TRUE(convert(*writer, "run_2", later));
  EXPECT_EQ(root.file("run.trc"), read_test_data("example_v1_1.trc"));
  EXPECT_NE(root.file("run_2.trc").find("     1)         0.0 Rx"), std::string::npos);
}

TEST(TemporaryTraceName, IsHiddenBesideTheTraceAndNamesIt) {
  SmallString temporary = temporary_trace_path("logs_out/a.trc", 12345);
  EXPECT_TRUE(std::regex_match(std::string(temporary.view()),
                               std::regex(R"(logs_out/\.a\.trc\.[a-z0-9]{6}\.part)")))
      << temporary.c_str();
  EXPECT_EQ(final_trace_path(temporary.view()).view(), "logs_out/a.trc");
  EXPECT_NE(temporary_trace_path("a.trc", 1).view(), temporary_trace_path("a.trc", 2).view());
  EXPECT_TRUE(final_trace_path("logs/a.txt").empty());
  EXPECT_TRUE(final_trace_path(".a.trc.part").empty());
  // A name too long for the additions is cut, so that the file can still be made.
  std::string long_name(250, 'n');
  EXPECT_LE(path_file_name(temporary_trace_path(long_name + ".trc", 7).view()).size(), 255u);
}

// The trace waits, hidden and whole, until commit gives it its name.
TEST_F(TrcWriterTest, DurableTraceWaitsForCommit) {
  auto writer = make(TRC_VERSION_2_1);
  TraceFileInfo info = info_for("run");
  info.durable = true;
  ASSERT_TRUE(writer->new_file(info, false));
  for (const auto& record : worked_example()) ASSERT_TRUE(writer->frame(record));
  ASSERT_TRUE(writer->end_file(info));
  ASSERT_TRUE(writer->publish(info));
  EXPECT_TRUE(writer->kept());
  EXPECT_FALSE(root.has_file("run.trc"));
  ASSERT_EQ(root.files().size(), 1u);
  EXPECT_EQ(final_trace_path(root.files()[0]).view(), "run.trc");
  EXPECT_EQ(writer->commit(), std::vector<bool>{true});
  EXPECT_EQ(root.file("run.trc"), read_test_data("example_v2_1.trc"));
  EXPECT_EQ(root.files(), std::vector<std::string>{"run.trc"});
  EXPECT_TRUE(writer->commit().empty());
}

// Written in place, a failed trace used to leave its name empty; it still does, unless its
// input is to be deleted: then whatever is there stays.
TEST_F(TrcWriterTest, FailedTraceLeavesItsNameAsBeforeOnlyWhenDurable) {
  for (bool durable : {false, true}) {
    root.add_file("x.trc", "an older trace\n");
    root.write_budget["x.trc"] = 10;
    auto writer = make(TRC_VERSION_2_1);
    TraceFileInfo info = info_for("x");
    info.durable = durable;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(writer->new_file(info, false));
    EXPECT_FALSE(writer->frame(worked_example()[0]));
    EXPECT_TRUE(writer->end_file(info));
    EXPECT_TRUE(writer->publish(info));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(root.has_file("x.trc"), durable);
    EXPECT_EQ(root.files().size(), durable ? 1u : 0u);  // no temporary file left
  }
}

TEST_F(TrcWriterTest, TraceThatCannotTakeItsNameIsRemoved) {
  root.fail_rename.insert("x.trc");
  auto writer = make(TRC_VERSION_2_1);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(convert(*writer, "x", worked_example()));
  std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find(" E Could not rename CAN file to x.trc\n"), std::string::npos);
  EXPECT_TRUE(root.files().empty());
}

class TrcWriterFailures : public TrcWriterTest {
 protected:
  std::string run(int32_t version, const std::string& output, bool* ended) {
    auto writer = make(version);
    testing::internal::CaptureStderr();
    *ended = convert(*writer, output, worked_example());
    return testing::internal::GetCapturedStderr();
  }
};

TEST_F(TrcWriterFailures, OpenFailureTouchesNothingOnDisk) {
  root.add_file("locked.trc", "somebody else's file");
  root.fail_open.insert("locked.trc");
  bool ended = false;
  std::string log = run(TRC_VERSION_2_1, "locked", &ended);
  EXPECT_NE(log.find(" E Could not open output file for CAN: locked.trc\n"), std::string::npos);
  EXPECT_TRUE(ended);
  EXPECT_TRUE(root.files_removed.empty());
  EXPECT_EQ(root.file("locked.trc"), "somebody else's file");
}

TEST_F(TrcWriterFailures, HeaderWriteFailureRemovesTheFile) {
  root.write_budget["short.trc"] = 10;
  bool ended = false;
  std::string log = run(TRC_VERSION_1_1, "short", &ended);
  EXPECT_NE(log.find(" E Could not write CAN header\n"), std::string::npos);
  EXPECT_TRUE(ended);
  EXPECT_FALSE(root.has_file("short.trc"));
}

// A trace cut short looks like a whole one to whoever reads it next: it is removed, and the
// input, which the job keeps, still holds every frame.
TEST_F(TrcWriterFailures, RecordWriteFailureRemovesThePartialFile) {
  std::string full = read_test_data("example_v1_1.trc");
  root.write_budget["cut.trc"] = static_cast<int64_t>(full.find("     2)"));
  bool ended = true;
  std::string log = run(TRC_VERSION_1_1, "cut", &ended);
  EXPECT_NE(log.find(" E Could not write CAN data\n"), std::string::npos);
  EXPECT_TRUE(ended);  // the removal worked; frame already said the file failed
  EXPECT_FALSE(root.has_file("cut.trc"));
  ASSERT_EQ(root.files_removed.size(), 1u);
  EXPECT_EQ(final_trace_path(root.files_removed[0]).view(), "cut.trc");

  root.write_budget["cut2.trc"] = 100;
  log = run(TRC_VERSION_2_1, "cut2", &ended);
  EXPECT_EQ(log.find("Could not write CAN data"), std::string::npos);  // 2.1 says nothing itself
  EXPECT_FALSE(root.has_file("cut2.trc"));

  // When the partial file cannot be removed either, end_file says so.
  root.write_budget["stuck.trc"] = 100;
  root.fail_remove.insert("stuck.trc");
  log = run(TRC_VERSION_2_1, "stuck", &ended);
  EXPECT_NE(log.find(" E Could not remove CAN file\n"), std::string::npos);
  EXPECT_FALSE(ended);
}

TEST_F(TrcWriterFailures, CloseAndRemoveFailuresAreReported) {
  root.fail_close.insert("noclose.trc");
  bool ended = true;
  std::string log = run(TRC_VERSION_2_1, "noclose", &ended);
  EXPECT_NE(log.find(" E Could not close CAN file\n"), std::string::npos);
  EXPECT_FALSE(ended);
  EXPECT_FALSE(root.has_file("noclose.trc"));  // unflushed data may be missing from it

  auto writer = make(TRC_VERSION_2_1);
  root.fail_remove.insert("stuck.trc");
  testing::internal::CaptureStderr();
  ended = convert(*writer, "stuck", {});
  log = testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find(" E Could not remove CAN file\n"), std::string::npos);
  EXPECT_FALSE(ended);
}

}  // namespace
}  // namespace velmarch
