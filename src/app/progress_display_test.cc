#include "app/progress_display.h"

#include <gtest/gtest.h>

namespace velmarch {
namespace {

TEST(ProgressText, StatusLineGrowsWhatItKnows) {
  ProgressSnapshot now;
  now.files_total = 1234;
  now.converted = 3;
  now.frames = 1234567;
  now.bytes_total = 100'000'000;
  now.bytes_read = 25'000'000;
  // Nothing to go by yet: no rate, no guess.
  EXPECT_EQ(progress_status_text(now, 0.1), "[3/1,234 files] 1,234,567 frames, 0:00 elapsed");
  EXPECT_EQ(progress_status_text(now, 0.5),
            "[3/1,234 files] 1,234,567 frames, 50.0 MB/s, 0:00 elapsed");
  // A quarter read in 4 s: 12 s left.
  EXPECT_EQ(progress_status_text(now, 4),
            "[3/1,234 files] 1,234,567 frames, 6.2 MB/s, 0:04 elapsed, 0:12 left");
  now.bytes_read = now.bytes_total;
  EXPECT_EQ(progress_status_text(now, 3725),
            "[3/1,234 files] 1,234,567 frames, 0.0 MB/s, 1:02:05 elapsed");
}

TEST(ProgressText, NeverMoreDoneThanThereIs) {
  ProgressSnapshot now;
  now.files_total = 2;  // a file that appeared after the count
  now.converted = 2;
  now.skipped = 1;
  now.frames = 1;
  EXPECT_EQ(progress_status_text(now, 0), "[3/3 files] 1 frame, 0:00 elapsed");
}

TEST(ProgressText, SummaryCountsEveryOutcome) {
  ProgressSnapshot now;
  now.converted = 1;
  now.skipped = 2;
  now.failed = 3;
  now.frames = 3'200'000;
  EXPECT_EQ(progress_summary_text(now, 2.43),
            "1 file converted, 2 skipped, 3 failed; 3,200,000 frames; 2.4 s");
  now.converted = 64;
  EXPECT_EQ(progress_summary_text(now, 75),
            "64 files converted, 2 skipped, 3 failed; 3,200,000 frames; 1:15");
  // With merged splits files and traces differ.
  now.traces = 1;
  EXPECT_EQ(progress_summary_text(now, 75),
            "64 files converted into 1 trace, 2 skipped, 3 failed; 3,200,000 frames; 1:15");
}

}  // namespace
}  // namespace velmarch
