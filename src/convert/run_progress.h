#pragma once

#include <atomic>
#include <cstdint>

namespace velmarch {

/// How far a run has got, for a display that reads it from another thread while the run goes
/// on: totals counted before the conversion starts, and what is done, added as it happens.
struct RunProgress {
  std::atomic<int64_t> files_total{0};
  std::atomic<int64_t> bytes_total{0};
  std::atomic<int64_t> files_converted{0};
  std::atomic<int64_t> files_skipped{0};  // repeats of the file before
  std::atomic<int64_t> files_failed{0};
  std::atomic<int64_t> traces{0};  // published, or staged for -d's commit
  std::atomic<int64_t> frames{0};  // handed to the traces
  std::atomic<int64_t> bytes_read{0};  // of the inputs, as they are read
  /// Whether the summary counts traces: with --merge-splits files and traces differ.
  bool counts_traces = false;
};

/// A file counted as converted whose frames are in no published trace after all failed.
inline void count_converted_as_failed(RunProgress& progress) {
  progress.files_converted.fetch_sub(1, std::memory_order_relaxed);
  progress.files_failed.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace velmarch
