#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "base/small_string.h"
#include "convert/trace_sink.h"
#include "diag/log.h"
#include "fs/folder_root.h"
#include "fs/staged_file.h"
#include "stream/byte_stream.h"

namespace velmarch {

struct TextLogReader;
struct MergedTrace;
class SplitChain;

/// Where one input file is in its life. A file moves only forwards, through file_open (found to
/// opened or unreadable), file_decide (to repeat, rejected, accepted or abandoned), file_convert
/// (accepted to converted, failed or interrupted) and file_finish (which may still fail a
/// converted file whose trace could not be published, or whose input could not be closed).
enum class FileState : uint8_t {
  found,        // the walk found it; nothing is open yet
  opened,       // open, its header read
  unreadable,   // it could not be opened, buffered, or its header read
  rejected,     // its header lacks the logger, session or split
  repeat,       // it repeats the file before it: passed over
  abandoned,    // the run stopped before its turn: it never happened
  accepted,     // its frames are to go to a trace
  converted,    // every frame went to its trace
  failed,       // accepted, but its trace is not whole
  interrupted,  // the run stopped while its frames were going to its trace
};

/// Where one file's output is on its way: made under its hidden name, written, then either
/// given its name (at once when whole, or in turn), staged for -d's commit, or removed.
enum class OutputState : uint8_t {
  none,     // no output was made
  writing,  // the format writes to it
  whole,    // closed and whole, its name given in turn
  named,    // given its name, as soon as it was whole or in turn
  staged,   // whole and waiting, unpublished, for -d's commit
  unnamed,  // whole, but it could not take its name or wait for it: removed
  failed,   // not whole, and removed again
  left,     // not whole, and could not be removed
};

/// One input file on its way through the conversion: opened and its header read (file_open),
/// accepted or passed over in walk order (file_decide), its frames fed to its sink
/// (file_convert), and finished in walk order (file_finish). The first and third steps may run
/// on any thread; they keep what they log in `log` for file_finish to write in its turn. A task
/// belongs to one step at a time, so it needs no lock.
struct FileTask {
  FileTask(StrView input, StrView output, bool through_link);
  ~FileTask();

  /// The file's state changes here only, so that every change can be checked.
  void move_to(FileState next);
  /// Its frames were to go to a trace: the conversion began, whatever came of it.
  bool was_accepted() const { return state >= FileState::accepted; }
  /// Its output holds frames and was published, or staged for -d's commit.
  bool output_kept() const {
    return output_state == OutputState::named || output_state == OutputState::staged;
  }
  /// Its result counts as a failure of the run: EXIT_FILE_FAILED.
  bool has_failed() const {
    return state == FileState::unreadable || state == FileState::rejected ||
           state == FileState::failed || state == FileState::interrupted;
  }

  /// What the walk found, and the header once it is read; the input and output paths (the
  /// latter without the format's extension) are set from the start.
  TraceFileInfo info;
  bool reached_through_link = false;
  /// The input as its folder's listing gave it, when the walk listed it: its size and
  /// permissions then need not be asked again.
  std::optional<PathStatus> listed;
  /// Why the walk could not make the output's folder; 0 when it is there.
  int output_folder_error = 0;
  /// Another file in flight has an output of the same name: this one is named only in turn.
  bool name_shared = false;
  /// The input is deleted once its trace is durable (-d).
  bool durable = false;

  FileState state = FileState::found;
  TraceSink* sink = nullptr;  // borrowed from the run's pool in the file's turn to be decided
  LogCapture log;
  PathStatus opened;  // the input as it was opened
  std::unique_ptr<ByteStream> stream;
  std::unique_ptr<TextLogReader> reader;
  bool continuation = false;  // it continues the file before it

  // With --merge-splits.
  std::shared_ptr<SplitChain> chain;  // the recording it was attached to, in turn
  size_t place_in_chain = 0;
  std::shared_ptr<MergedTrace> trace;  // the trace its frames went to
  /// The recording that deciding this file ended: its trace is published in this file's turn.
  std::shared_ptr<SplitChain> closes;

  // Its output.
  std::unique_ptr<StagedFile> output_file;  // the trace, until named or in -d's queue
  OutputState output_state = OutputState::none;
  bool output_ended = true;  // the format ended it and it was closed, named or removed cleanly
  bool output_identical = false;  // staged over a byte-identical trace (see PendingInput)
  PathStatus output_existing;

  // What became of its frames and its input.
  int64_t frames = 0;         // written to its trace
  int64_t skipped_lines = 0;  // whose timestamps ran backwards
  int64_t rollovers = 0;      // timestamps taken for a wrap of the clock
  int64_t implausible_rollovers = 0;  // ... of which ran back by less than half a period
  int64_t bytes_told = 0;     // of its input, added to the run's progress
  std::optional<int> close_error;  // why its input could not be closed after the conversion
  bool output_unread = false;  // the reader of standard output went away: the rest is unwanted
  size_t report_entry = SIZE_MAX;  // its entry in the run's report, if there is one
};

}  // namespace velmarch
