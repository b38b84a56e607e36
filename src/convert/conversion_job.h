#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/ordered_pipeline.h"
#include "convert/conversion_flags.h"
#include "convert/run_progress.h"
#include "convert/trace_sink.h"
#include "diag/log.h"
#include "fs/folder_root.h"
#include "fs/input_set.h"
#include "fs/staged_file.h"
#include "platform/platform.h"

namespace velmarch {

struct TextLogReader;

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

/// Where one file's output is on its way: made under its hidden name, written, then either
/// given its name (at once when whole, or in turn), staged for -d's commit, or removed.
enum class OutputState : uint8_t {
  none,     // no output was made
  writing,  // the format writes to it
  whole,    // closed and whole, its name given in turn
  named,    // given its name as soon as it was whole, or tried: output_kept tells
  staged,   // whole and waiting, unpublished, for -d's commit
  failed,   // not whole, and removed again
  left,     // not whole, and could not be removed
};

/// One input file on its way through the conversion: opened and its header read (file_open),
/// accepted or passed over in walk order (file_decide), its frames fed to its sink
/// (file_convert), and finished in walk order (file_finish). The first and third steps may run
/// on any thread; they keep what they log in `log` for file_finish to write in its turn.
struct FileTask {
  FileTask(StrView input, StrView output, bool through_link);
  ~FileTask();

  SmallString input_path;
  SmallString output_path;
  bool reached_through_link = false;
  TraceSink* sink = nullptr;  // borrowed: the format the frames go to
  LogCapture log;
  std::unique_ptr<StagedFile> output_file;  // the trace, until named or in -d's queue
  OutputState output_state = OutputState::none;
  bool output_kept = false;  // it holds frames and was published, or staged for the commit
  bool output_identical = false;  // staged over a byte-identical trace (see PendingInput)
  PathStatus output_existing;
  std::unique_ptr<ByteStream> stream;
  std::unique_ptr<TextLogReader> reader;
  TraceFileInfo info;
  PathStatus opened;  // the input as it was opened
  bool failed = false;  // the file fails (8)
  bool convert = false;       // the header was accepted and the file is not a repeat
  bool continuation = false;  // it continues the file before it
  bool ended = false;         // the output ended cleanly
  bool interrupted = false;   // an interruption stopped its frames
  bool abandoned = false;     // the run stopped before its turn: it never happened
  bool closed = false;        // its input was closed after the conversion...
  bool close_failed = false;  // ... and that failed,
  int close_error = 0;        // for this reason
  /// The input as the walk saw it, when the walk found it: its size and permissions then need
  /// not be asked again. Its identity is taken from the open file all the same whenever the
  /// input may be deleted.
  PathStatus listed;
  bool was_listed = false;
  int64_t frames = 0;         // written to its trace
  int64_t skipped_lines = 0;  // whose timestamps ran backwards
  int64_t rollovers = 0;      // timestamps taken for a wrap of the clock
  /// Why the walk could not make the output's folder; 0 when it is there.
  int output_folder_error = 0;
  int64_t bytes_told = 0;     // of its input, added to the run's progress
};

/// One place in the order in which a run finishes things: a file, lines the walk said between
/// files, or the commit at the end of an input.
struct Turn {
  std::unique_ptr<FileTask> file;
  LogCapture said;
  bool commit = false;
};

/// How much of an input a conversion reads at once, when the flags ask for the whole file: a
/// buffer this small stays in the processor's cache, and the file is read through it.
inline constexpr int64_t FILE_READ_BLOCK = 64 << 10;

/// Converts the inputs of a run into one format, and with more jobs through formats made by its
/// sink. Borrows the roots, the flags and the sink; owns what files in flight need, the outputs
/// waiting for -d's commit and the identity of the last accepted file.
struct ConversionJob {
  FolderRoot* input_root = nullptr;
  FolderRoot* output_root = nullptr;
  bool create_folders = false;  // create a file's output folders before converting it
  const ConversionFlags* flags = nullptr;
  TraceSink* sink = nullptr;
  TraceFileInfo previous_file;  // decides repeats and continuations

  /// With --delete-converted: the inputs converted since the last commit, in order.
  std::vector<PendingInput> pending;
  int64_t pending_bytes = 0;
  /// Seeds the hidden names of outputs: different between runs and between the files of one.
  uint64_t name_seed = 0;
  std::atomic<uint64_t> outputs_made{0};
  /// Where the job learns that the run is to stop; the platform's interruption by default.
  int (*interruption)() = platform_interruption;
  /// Where the run tells how far it got, for a display; none by default. The walk then counts
  /// the files and their bytes first.
  RunProgress* progress = nullptr;
  bool counting = false;  // the walk only counts
  /// An interruption was seen: convert and delete nothing more. Read on workers too.
  std::atomic<bool> interrupted{false};
  bool interruption_reported = false;

  // While job_run runs: the pipeline files go through, their turns in order, the sinks free for
  // them, what the walk logs before its turn, the statuses files gave when they finished, and
  // the files started.
  OrderedPipeline* pipeline = nullptr;
  std::deque<std::unique_ptr<Turn>> turns;
  std::vector<TraceSink*> free_sinks;
  std::mutex sinks_lock;  // free_sinks is taken from on workers, given back on the job's thread
  LogCapture walk_log;
  SmallString made_folder;  // the output folder made for the last file
  bool made_folder_known = false;
  int made_folder_error = 0;  // why making it failed; 0 when it is there
  int finished_status = 0;
  std::set<std::pair<uint64_t, uint64_t>> files_started;  // device and inode
  std::map<std::string, int> names_in_flight;  // output paths of the files in flight
  std::atomic<int> converting{0};  // files whose frames are being fed, on any thread
};

/// Null when a root, the flags or the sink is missing, or memory runs out.
std::unique_ptr<ConversionJob> job_create(FolderRoot* input_root, FolderRoot* output_root,
                                          bool create_folders, const ConversionFlags* flags,
                                          TraceSink* sink);

/// Converts every input (relative to the input root) in order, up to flags->jobs files at
/// once; answers the exit status, the results of all inputs combined by bitwise OR. Whatever
/// the number of jobs, the outputs, the status and the log lines in their order are those of
/// converting one file after another.
int job_run(ConversionJob& job, const StringList& inputs);
/// Converts one file, or every "txt" file below one folder, to the output path given.
int job_convert_entry(ConversionJob& job, StrView input_path, StrView output_path);
/// Converts one text log, all steps at once; 0 when converted or skipped as a repeat, 8 when
/// it failed or the run was interrupted. An input reached through a symbolic link is never
/// deleted.
uint8_t job_convert_file(ConversionJob& job, StrView input_path, StrView output_path,
                         bool reached_through_link = false);

/// The steps of one file's conversion, as job_convert_file runs them one after another.
void file_open(ConversionJob& job, FileTask& task);
void file_decide(ConversionJob& job, FileTask& task);
void file_convert(ConversionJob& job, FileTask& task);
uint8_t file_finish(ConversionJob& job, FileTask& task);

/// Whether the run is to stop. The walk then unwinds without a word; job_run says it once.
bool job_interrupted(ConversionJob& job);
/// With --delete-converted, after a file's output was published in turn: an input whose trace
/// is staged waits with it for the commit; every other input stays.
void job_queue_input(ConversionJob& job, FileTask& task, bool converted);
/// Makes the traces of the pending inputs durable and publishes them, then removes those inputs
/// that are still the files read. Answers the status of the files that failed only now.
int job_commit(ConversionJob& job);
/// Commits once enough inputs wait: many small files share one flush.
int job_commit_when_due(ConversionJob& job);
/// When the run stops: publishes the whole traces that wait for the commit, and removes no input.
void job_publish_pending(ConversionJob& job);

}  // namespace velmarch
