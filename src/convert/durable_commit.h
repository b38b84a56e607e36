#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "base/exit_status.h"
#include "base/small_string.h"
#include "fs/staged_file.h"
#include "platform/platform.h"

namespace velmarch {

class ConversionJob;
struct FileTask;

/// An input whose trace waits, whole and closed under its hidden name, for -d's commit; the
/// input is removed after it, when remove is set and it is still the file that was read.
struct PendingInput {
  SmallString input_path;
  PathStatus identity;  // as the input was opened
  bool remove = false;
  bool failed = false;  // the file failed already and said so; its trace is published anyway
  std::unique_ptr<StagedFile> trace;
  /// An earlier run left these very bytes at the trace's name: that file stands for the trace,
  /// as long as it is still the one compared (existing).
  bool identical = false;
  PathStatus existing;
};

/// --delete-converted: the traces of converted inputs wait, whole under their hidden names,
/// until enough of them are done; then they are flushed together, given their names and
/// flushed again, and only then do their inputs go. Used on the job's thread only.
class DurableCommit {
 public:
  /// How many inputs wait.
  size_t waiting() const { return pending_.size(); }
  /// Whether a trace waiting here is to take that name.
  bool holds_trace_for(const SmallString& final_path) const;
  /// After a file's output was published in turn: an input whose trace is staged waits with
  /// it for the commit; every other input stays.
  void queue(FileTask& task, bool converted);
  /// Makes the waiting traces durable and publishes them, then removes those inputs that are
  /// still the files read. Answers the status of the files that failed only now.
  ExitStatus commit(ConversionJob& job);
  /// Commits once enough inputs wait: many small files share one flush.
  ExitStatus commit_when_due(ConversionJob& job);
  /// When the run stops: publishes the whole traces that wait, and removes no input.
  void publish_on_stop(ConversionJob& job);

 private:
  std::vector<bool> publish_traces(ConversionJob& job);
  void clear();

  std::vector<PendingInput> pending_;  // in walk order
  int64_t pending_bytes_ = 0;
};

}  // namespace velmarch
