#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "base/exit_status.h"
#include "convert/conversion_flags.h"
#include "convert/durable_commit.h"
#include "convert/file_task.h"
#include "convert/run_progress.h"
#include "convert/run_report.h"
#include "convert/trace_sink.h"
#include "fs/folder_root.h"
#include "fs/input_set.h"

namespace velmarch {

/// How much of an input a conversion reads at once, when the flags ask for the whole file: a
/// buffer this small stays in the processor's cache, and the file is read through it.
inline constexpr int64_t FILE_READ_BLOCK = 64 << 10;

/// What a run is given. Set before the run starts and never changed while it goes on, so that
/// every thread may read it.
struct JobSetup {
  FolderRoot* input_root = nullptr;   // borrowed
  FolderRoot* output_root = nullptr;  // borrowed
  const ConversionFlags* flags = nullptr;
  TraceSink* sink = nullptr;  // the format; files side by side get formats made by it
  /// Where the run tells how far it got, for a display; none by default. The run then counts
  /// the files and their bytes first.
  RunProgress* progress = nullptr;
  /// Where the run tells what became of each input (--report); none by default.
  RunReport* report = nullptr;
  /// Where the run learns that it is to stop: the platform's interruption by default.
  int (*interruption)() = nullptr;
  /// Seeds the hidden names of outputs: different between runs.
  uint64_t name_seed = 0;
};

/// Converts the inputs of a run into one format, one file after another or, with more jobs,
/// several at once with the results of one after another. Its state is grouped by who may touch
/// it, and so are its members below:
/// - the setup, fixed before the run: any thread reads it;
/// - any thread: the run's stop and two counters, atomics;
/// - in turn: the previous file, which decides repeats and continuations, only in file_decide,
///   which runs in walk order, one file at a time, on whichever thread holds the turn;
/// - the job's thread (the one that called job_run): -d's queue and whether the stop was told,
///   in walk order.
/// What exists only while job_run runs (the pipeline, the turns, the pool of formats and the
/// walk's own state) belongs to that run (job_run.cc).
class ConversionJob {
 public:
  explicit ConversionJob(const JobSetup& setup);
  ConversionJob(const ConversionJob&) = delete;
  ConversionJob& operator=(const ConversionJob&) = delete;

  // Before the run.
  void show_progress(RunProgress* progress) { setup_.progress = progress; }
  void report_to(RunReport* report) { setup_.report = report; }
  void take_interruption_from(int (*interruption)()) { setup_.interruption = interruption; }
  /// The next file starts a chain of its own: no repeat, no continuation.
  void forget_previous_file() { in_turn_.previous_file = TraceFileInfo{}; }

  // Any thread.
  const JobSetup& setup() const { return setup_; }
  const ConversionFlags& flags() const { return *setup_.flags; }
  /// Asks whether the run is to stop, and remembers a yes.
  bool check_interruption();
  /// Whether a stop was seen by now; cheap.
  bool stopped() const { return any_thread_.stopped.load(); }
  void stop() { any_thread_.stopped = true; }
  /// Whether the platform asks the run to stop, without remembering it: for every frame.
  bool interruption_requested() const { return setup_.interruption() != 0; }
  /// A seed for the hidden name of the next output: different for every file of the run.
  uint64_t next_output_seed();
  /// Files whose frames are being fed now, on any thread.
  std::atomic<int>& converting() { return any_thread_.converting; }

  // In turn: only file_decide.
  TraceFileInfo& previous_file() { return in_turn_.previous_file; }

  // Only the job's thread.
  DurableCommit& durable_commit() { return job_thread_.durable_commit; }
  /// Whether the stop was told: nothing after it says anything.
  bool stop_told() const { return job_thread_.stop_told; }
  /// Tells the stop once, naming the file it stopped in, if any.
  void tell_stop(StrView stopped_in = {});

 private:
  // Fixed once the run starts: any thread reads it.
  JobSetup setup_;
  // Any thread: atomics only.
  struct AnyThread {
    std::atomic<bool> stopped{false};
    std::atomic<uint64_t> outputs_made{0};
    std::atomic<int> converting{0};
  } any_thread_;
  // Only the step that decides, one file at a time in walk order, on whichever thread holds
  // the turn; the pipeline orders those steps, so no lock is needed.
  struct InTurn {
    TraceFileInfo previous_file;
  } in_turn_;
  // Only the job's thread.
  struct JobThread {
    DurableCommit durable_commit;
    bool stop_told = false;
  } job_thread_;
};

/// Null when a root, the flags or the sink is missing, or memory runs out.
std::unique_ptr<ConversionJob> job_create(FolderRoot* input_root, FolderRoot* output_root,
                                          const ConversionFlags* flags, TraceSink* sink);

/// Converts every input (relative to the input root) in order, up to flags->jobs files at
/// once; answers the results of all inputs combined. Whatever the number of jobs, the outputs,
/// the status and the log lines in their order are those of converting one file after another.
ExitStatus job_run(ConversionJob& job, const StringList& inputs);
/// Converts one text log, all steps at once: EXIT_OK when converted or skipped as a repeat,
/// EXIT_FILE_FAILED when it failed or the run was interrupted. An input reached through a
/// symbolic link is never deleted.
ExitStatus job_convert_file(ConversionJob& job, StrView input_path, StrView output_path,
                            bool reached_through_link = false);
/// The path as the user's system names it, for the report: the root's own "/" is the one
/// between the two parts.
std::string report_path(const FolderRoot* root, StrView relative);
/// A finished file's report entry: what its conversion found, and why it failed, in the words
/// of its lines (reason: what a LogErrorTap kept).
void fill_report_entry(ReportEntry& entry, const ConversionJob& job, const FileTask& task,
                       std::string reason);

/// How standard input and output are named in log lines and the report.
inline constexpr const char* STANDARD_STREAM = "-";
/// Converts the text log read from input (standard input) into the job's format, written to
/// output (standard output) as it goes: EXIT_OK when converted, EXIT_FILE_FAILED when it
/// failed (said, and "output is incomplete" once bytes went out) or the run was interrupted.
/// A reader of the output that went away ends the conversion quietly. Closes the output.
ExitStatus job_convert_stream(ConversionJob& job, std::unique_ptr<ByteStream> input,
                              ByteStream& output);
/// Makes the traces that wait for -d durable and publishes them, then removes those inputs that
/// are still the files read; answers the status of the files that failed only now.
ExitStatus job_commit(ConversionJob& job);

/// The steps of one file's conversion, as job_convert_file runs them one after another.
void file_open(ConversionJob& job, FileTask& task);
void file_decide(ConversionJob& job, FileTask& task);
void file_convert(ConversionJob& job, FileTask& task);
ExitStatus file_finish(ConversionJob& job, FileTask& task);

/// Says that an input failed; the one place this is said, after whatever said why.
void log_conversion_failed(StrView input_path);

}  // namespace velmarch
