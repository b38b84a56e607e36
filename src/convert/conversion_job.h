#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "convert/conversion_flags.h"
#include "convert/trace_sink.h"
#include "fs/folder_root.h"
#include "fs/input_set.h"

namespace velmarch {

struct TextLogReader;

/// An input whose output waits for the sink's commit; removed after it, when remove is set
/// and the input is still the file that was read.
struct PendingInput {
  SmallString input_path;
  FileIdentity identity;  // as the input was opened
  bool remove = false;
  bool failed = false;  // the file failed already and said so; its trace is published anyway
};

/// Converts the inputs of a run through one sink. Borrows the roots, the flags and the sink;
/// owns only the reader of the file being converted and the identity of the last accepted file.
struct ConversionJob {
  ConversionJob();
  ~ConversionJob();

  FolderRoot* input_root = nullptr;
  FolderRoot* output_root = nullptr;
  bool create_folders = false;  // create a file's output folders before converting it
  const ConversionFlags* flags = nullptr;
  TraceSink* sink = nullptr;
  TraceFileInfo previous_file;  // decides repeats and continuations
  std::unique_ptr<TextLogReader> current_reader;

  /// With --delete-converted: the inputs converted since the last commit, in order.
  std::vector<PendingInput> pending;
  int64_t pending_bytes = 0;
  /// Where the job learns that the run is to stop; the platform's interruption by default.
  int (*interruption)() = platform_interruption;
  bool interrupted = false;  // an interruption was seen: convert and delete nothing more
  bool interruption_reported = false;
};

/// Null when a root, the flags or the sink is missing, or memory runs out.
std::unique_ptr<ConversionJob> job_create(FolderRoot* input_root, FolderRoot* output_root,
                                          bool create_folders, const ConversionFlags* flags,
                                          TraceSink* sink);

/// Converts every input (relative to the input root) in order; answers the exit status, the
/// results of all inputs combined by bitwise OR.
int job_run(ConversionJob& job, const StringList& inputs);
/// Converts one file, or every "txt" file below one folder, to the output path given.
int job_convert_entry(ConversionJob& job, StrView input_path, StrView output_path);
/// Converts one text log; 0 when converted or skipped as a repeat, 8 when it failed or the run
/// was interrupted. An input reached through a symbolic link is never deleted.
uint8_t job_convert_file(ConversionJob& job, StrView input_path, StrView output_path,
                         bool reached_through_link = false);

/// Whether the run is to stop. The walk then unwinds without a word; job_run says it once.
bool job_interrupted(ConversionJob& job);
/// Has the sink commit the outputs of the pending inputs, then removes those inputs that are
/// still the files read. Answers the status of the files that failed only now.
int job_commit(ConversionJob& job);
/// Commits once enough inputs wait: many small files share one flush.
int job_commit_when_due(ConversionJob& job);

}  // namespace velmarch
