#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

#include "base/exit_status.h"
#include "stream/byte_stream.h"

namespace velmarch {

/// What became of one input, as the report names it.
enum class InputOutcome : uint8_t {
  converted,    // its frames are in its trace
  repeat,       // it repeats the file before it: passed over
  passed_over,  // not a text log
  failed,       // missing, unreadable, rejected, or its trace is not whole
  interrupted,  // the run stopped while, or before, its trace was made
};

/// One input of the report: paths in full, counts as its conversion found them.
struct ReportEntry {
  std::string input;
  std::string output;  // the trace holding its frames; empty when there is none
  InputOutcome outcome = InputOutcome::failed;
  int64_t frames = 0;
  int64_t lines_skipped = 0;  // whose timestamps ran backwards
  int64_t rollovers = 0;
  int64_t implausible_rollovers = 0;
  int64_t input_bytes = 0;
  std::string reason;    // why it failed or was interrupted, as its lines said
  bool removed = false;  // -d removed the input
};

/// How the run ended, for the report's last line.
struct ReportEnd {
  ExitStatus status;
  int signal = 0;  // the interruption that ends the process, or 0
  double seconds = 0;
};

/// --report: one JSON object per input in walk order, then one for the run (JSON Lines).
/// Entries are added in walk order by the job's thread; one that may still change (its trace
/// waits for -d's commit, or for the rest of its recording) is held, and is written once it was
/// released as often as held and every entry before it is written.
class RunReport {
 public:
  /// No entry: for files that are not reported.
  static constexpr size_t NONE = SIZE_MAX;

  explicit RunReport(ByteStream& out) : out_(out) {}

  /// Adds an entry, held once by the caller; answers its number.
  size_t add(ReportEntry entry);
  /// An entry not yet written; NONE is not one.
  ReportEntry& entry(size_t number);
  void hold(size_t number);
  void release(size_t number);
  /// Writes every entry left, whether held or not, and the run's line; false when a write
  /// failed (write_error() says why).
  bool finish(const ReportEnd& end);
  int write_error() const { return write_error_; }

 private:
  struct Held {
    ReportEntry entry;
    int holds = 1;
  };
  void write_ready();
  void write_entry(const ReportEntry& entry);
  void write_line();

  ByteStream& out_;
  std::deque<Held> waiting_;  // from entry number first_ on
  size_t first_ = 0;
  std::string line_;
  int write_error_ = 0;
  bool failed_ = false;
  // Totals of the entries written.
  int64_t outcomes_[5] = {};
  int64_t traces_ = 0, frames_ = 0, input_bytes_ = 0, removed_ = 0;
  std::string last_trace_;  // the splits of one recording name one trace, one after another
};

/// The report's name for an interruption: "SIGINT" for 2.
const char* signal_name(int signal);

}  // namespace velmarch
