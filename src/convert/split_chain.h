#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "base/exit_status.h"
#include "convert/durable_commit.h"
#include "convert/file_task.h"

namespace velmarch {

class ConversionJob;

// --merge-splits. A logger cuts one recording into split files; in walk order, a file whose
// header continues the file accepted before it is attached to that file's chain, and the
// frames of a chain's files go one file after another, in order, into one trace named after
// the first. Files are attached in turn (when they are decided), fed one after another, each
// on the thread that fed the one before or its own, and the trace is published in turn once no
// file can be attached any more: when a file that does not continue it is decided, or at the
// end of a command-line input. A file that cannot be fed
// whole ends its trace, which is then never published; the chain's next file starts a new one.

/// One trace made of consecutive splits: the output of its first split, with the frames of
/// every split after it.
struct MergedTrace {
  explicit MergedTrace(const FileTask& first);

  /// The trace as one file's output: the first split's paths, header and permissions.
  FileTask output;
  /// The splits whose frames it holds, added in turn as each is finished; -d removes them once
  /// the trace is durable.
  std::vector<PendingInput> inputs;
  /// Where its last frame stood in time: the next split drops what runs back behind it. Only
  /// the thread that feeds the split whose turn it is.
  double last_time = 0;
  int64_t frames = 0;   // of the splits in inputs
  bool broken = false;  // a split could not be fed whole: the trace is never published
  bool finished = false;  // its end was told, in its turn
  LogCapture ending;      // what ending it said, told in its turn
};

/// The files of one recording as they are attached in turn, and the format they share.
class SplitChain {
 public:
  /// The format is the chain's until no file can be attached and the last one was fed; then it
  /// goes back through give_back, on whichever thread that happens.
  SplitChain(TraceSink* sink, std::function<void(TraceSink*)> give_back);
  SplitChain(const SplitChain&) = delete;
  SplitChain& operator=(const SplitChain&) = delete;

  // In turn.
  /// Attaches the next file, which then writes with the chain's format: answers its place.
  size_t attach(FileTask& task);
  /// No more files come: ends the trace when its last file was fed.
  void close();

  // On the threads that convert the files.
  /// True when every file before this one was fed, so that this thread feeds it now; otherwise
  /// the file is parked, and the thread that feeds the file before it feeds it next.
  bool feed_now_or_park(FileTask& task);
  /// The trace to append to, or null when the file starts a new one (then start_trace).
  std::shared_ptr<MergedTrace> trace_to_append_to();
  /// A trace whose first split is this file.
  std::shared_ptr<MergedTrace> start_trace(const FileTask& first);
  /// The file was fed, whole or not, and its conversion ended: ends the trace when it was the
  /// last. Answers the parked file to feed next, if any: it is fed within the same step as the
  /// file before it, so every file is fed before its turn to be finished comes.
  FileTask* fed(FileTask& task);

  // In turn, once the chain was closed and every file of it finished.
  /// The trace not yet published, if any.
  std::shared_ptr<MergedTrace> last_trace();

 private:
  // Ends the trace and gives the format back: no file is left to feed it, and none will be.
  void end_output();

  TraceSink* sink_;
  std::function<void(TraceSink*)> give_back_;
  std::mutex lock_;
  // Under lock_.
  size_t attached_ = 0;
  size_t fed_ = 0;  // the files fed, in order
  bool closed_ = false;
  std::map<size_t, FileTask*> parked_;  // by place
  std::shared_ptr<MergedTrace> trace_;  // the one being written
};

/// In turn, after the chain was closed and every file of it finished: publishes its last trace,
/// or stages it for -d's commit, and says what became of it and of its splits; when the run
/// stops, removes it unpublished and says nothing. Answers the status of the splits that failed
/// only now.
ExitStatus split_chain_finish(ConversionJob& job, SplitChain& chain, bool run_stops);
/// The same for one trace: also, in turn, for a trace that a split could not be fed to whole,
/// once that split finished.
ExitStatus merged_trace_finish(ConversionJob& job, MergedTrace& trace, bool run_stops);

}  // namespace velmarch
