#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/exit_status.h"
#include "base/small_string.h"
#include "fs/staged_file.h"
#include "platform/platform.h"

namespace velmarch {

class ConversionJob;
struct FileTask;

/// An input whose frames are in a trace that waits for -d's commit; removed after it when it
/// neither failed nor was reached through a link, and is still the file that was read.
struct PendingInput {
  SmallString input_path;
  PathStatus identity;  // as the input was opened
  bool reached_through_link = false;
  bool failed = false;  // the file failed already and said so; its trace is published anyway
  size_t report_entry = SIZE_MAX;  // its entry in the run's report, held while it waits
  bool removable() const { return !failed && !reached_through_link; }
};

/// The input of a file whose frames went to its trace, as -d's commit needs it.
PendingInput pending_input_of(const FileTask& task, bool failed);

/// A trace that waits, whole and closed under its hidden name, for -d's commit: one input's,
/// or with --merge-splits those of a recording's splits.
struct PendingTrace {
  std::unique_ptr<StagedFile> trace;
  /// An earlier run left these very bytes at the trace's name: that file stands for the trace,
  /// as long as it is still the one compared (existing).
  bool identical = false;
  PathStatus existing;
  std::vector<PendingInput> inputs;
};

/// --delete-converted: the traces of converted inputs wait, whole under their hidden names,
/// until enough of them are done; then they are flushed together, given their names and
/// flushed again, and only then do their inputs go. Used on the job's thread only.
class DurableCommit {
 public:
  /// How many traces wait.
  size_t waiting() const { return pending_.size(); }
  /// Whether a trace waiting here is to take that name.
  bool holds_trace_for(const SmallString& final_path) const;
  /// After an output was published in turn: the inputs whose frames it holds wait with it for
  /// the commit when it is staged; otherwise they stay.
  void queue(const ConversionJob& job, FileTask& output, std::vector<PendingInput> inputs);
  /// Makes the waiting traces durable and publishes them, then removes those inputs that are
  /// still the files read. Answers the status of the files that failed only now.
  ExitStatus commit(ConversionJob& job);
  /// Commits once enough inputs wait: many small files share one flush.
  ExitStatus commit_when_due(ConversionJob& job);
  /// When the run stops: publishes the whole traces that wait, and removes no input.
  void publish_on_stop(ConversionJob& job);

 private:
  /// failures: for each trace not published, why, as its lines said.
  std::vector<bool> publish_traces(ConversionJob& job, std::vector<std::string>& failures);
  void clear();

  std::vector<PendingTrace> pending_;  // in walk order
  int64_t pending_bytes_ = 0;
};

}  // namespace velmarch
