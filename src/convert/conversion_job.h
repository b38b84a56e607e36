#pragma once

#include <cstdint>
#include <memory>

#include "convert/conversion_flags.h"
#include "convert/trace_sink.h"
#include "fs/folder_root.h"
#include "fs/input_set.h"

namespace velmarch {

struct TextLogReader;

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
};

/// Null when a root, the flags or the sink is missing, or memory runs out.
std::unique_ptr<ConversionJob> job_create(FolderRoot* input_root, FolderRoot* output_root,
                                          bool create_folders, const ConversionFlags* flags,
                                          TraceSink* sink);
void job_release(std::unique_ptr<ConversionJob>& job);

/// Converts every input (relative to the input root) in order; answers the exit status, the
/// results of all inputs combined by bitwise OR.
int job_run(ConversionJob& job, const StringList& inputs);
/// Converts one file, or every "txt" file below one folder, to the output path given.
int job_convert_entry(ConversionJob& job, StrView input_path, StrView output_path);
/// Converts one text log; 0 when converted or skipped as a repeat, 8 when it failed.
uint8_t job_convert_file(ConversionJob& job, StrView input_path, StrView output_path);

}  // namespace velmarch
