#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "convert/run_progress.h"

namespace velmarch {

/// What the display reads of a run's progress at one moment.
struct ProgressSnapshot {
  int64_t files_total = 0;
  int64_t bytes_total = 0;
  int64_t converted = 0;
  int64_t skipped = 0;
  int64_t failed = 0;
  int64_t frames = 0;
  int64_t bytes_read = 0;
  int64_t traces = -1;  // not counted: each file has its own
};

ProgressSnapshot progress_snapshot(const RunProgress& progress);

/// The status line while the run goes on, for example
/// "[3/64 files] 1,234,567 frames, 215.3 MB/s, 0:04 elapsed, 0:12 left".
std::string progress_status_text(const ProgressSnapshot& now, double elapsed_seconds);
/// The line left at the end: "64 files converted, 0 skipped, 0 failed; 3,200,000 frames; 2.4 s",
/// with merged splits "64 files converted into 8 traces, 0 skipped, ...".
std::string progress_summary_text(const ProgressSnapshot& now, double elapsed_seconds);

/// Redraws the status line from a run's progress ten times a second on a thread of its own,
/// until finish leaves the summary in its place.
class ProgressDisplay {
 public:
  explicit ProgressDisplay(const RunProgress& progress);
  /// Finishes, when finish was not called.
  ~ProgressDisplay();
  ProgressDisplay(const ProgressDisplay&) = delete;
  ProgressDisplay& operator=(const ProgressDisplay&) = delete;

  /// Stops redrawing and leaves the summary.
  void finish();

 private:
  double elapsed() const;
  void redraw();

  const RunProgress& progress_;
  const std::chrono::steady_clock::time_point start_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace velmarch
