#include "textlog/timestamps.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "textlog/text_log_test_support.h"

namespace velmarch {
namespace {

// The timestamps the reader hands out for these record fields, under the header time given.
std::vector<double> timestamps(const std::string& header, const std::vector<std::string>& fields) {
  std::string records;
  for (const auto& field : fields) records += field + "\n";
  OpenLog log = open_log(log_text(header, "Timestamp", records));
  EXPECT_TRUE(log.reader);
  std::vector<double> out;
  CanRecord record;
  testing::internal::CaptureStderr();
  while (log.reader && text_log_next(*log.reader, record)) out.push_back(record.timestamp);
  testing::internal::GetCapturedStderr();
  return out;
}

const std::string header_time = "# Time: 20170307T113006\n";

TEST(Timestamps, RecordDigitsOverlayTheHeaderDigits) {
  EXPECT_EQ(timestamps(header_time + "# Time format: 1\n", {"30123"}),
            std::vector<double>{1488886230.123});
  EXPECT_EQ(timestamps(header_time +
                           "# Time format: 3\n# Time separator: \":\"\n# Time separator ms: \".\"\n",
                       {"11:30:07.123"}),
            std::vector<double>{1488886207.123});
  EXPECT_EQ(timestamps(header_time, {"20240102030405678"}), std::vector<double>{1704164645.678});
  EXPECT_EQ(timestamps("", {"113007123"}), std::vector<double>{41407.123});
}

TEST(Timestamps, MinuteRolloverAddsAPeriodForEveryLaterLine) {
  EXPECT_EQ(timestamps(header_time + "# Time format: 1\n", {"59999", "00050", "00100"}),
            (std::vector<double>{1488886259.999, 1488886260.050, 1488886260.100}));
}

TEST(Timestamps, SmallBackwardStepIsNoRolloverAndTheLineIsDropped) {
  EXPECT_EQ(timestamps(header_time + "# Time format: 1\n", {"30600", "30100", "30700"}),
            (std::vector<double>{1488886230.600, 1488886230.700}));
}

TEST(Timestamps, MonthRolloverIsMeasuredFromTheRecordsMonth) {
  EXPECT_EQ(timestamps(header_time + "# Time format: 4\n", {"31120000000", "01000000001"}),
            (std::vector<double>{1490961600.0, 1491004800.001}));
  EXPECT_EQ(rollover_period(4, 1488326400.0), 2678400u);  // March 2017
  EXPECT_EQ(rollover_period(1, 0), 60u);
  EXPECT_EQ(rollover_period(0, 0), 0u);
}

TEST(Timestamps, FullTimestampsNeverRollOver) {
  EXPECT_EQ(timestamps(header_time + "# Time format: 0\n",
                       {"20170307113006000", "20170101000000000", "20170307113007000"}),
            (std::vector<double>{1488886206.0, 1488886207.0}));
}

TEST(Timestamps, OverlongFieldIsHarmless) {
  std::vector<double> got = timestamps(header_time, {std::string(200, '9')});
  ASSERT_EQ(got.size(), 1u);
}

}  // namespace
}  // namespace velmarch
