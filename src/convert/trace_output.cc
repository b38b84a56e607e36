#include "convert/trace_output.h"

#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <new>

#include "diag/log.h"

namespace velmarch {

namespace {

// Whether two files under the root hold the same bytes; false when either cannot be read.
bool same_bytes(FolderRoot* root, StrView a, StrView b) {
  std::unique_ptr<ByteStream> first = folder_root_open(root, a, OPEN_READ).value();
  std::unique_ptr<ByteStream> second = folder_root_open(root, b, OPEN_READ).value();
  if (!first || !second) return false;
  constexpr size_t BLOCK = 64 << 10;
  std::unique_ptr<char[]> blocks(new (std::nothrow) char[2 * BLOCK]);
  if (!blocks) return false;
  for (;;) {
    int64_t got = byte_stream_read(*first, blocks.get(), BLOCK).value_or(-1);
    int64_t other = byte_stream_read(*second, blocks.get() + BLOCK, BLOCK).value_or(-1);
    if (got < 0 || got != other) return false;
    if (got == 0) return true;
    if (std::memcmp(blocks.get(), blocks.get() + BLOCK, static_cast<size_t>(got)) != 0) {
      return false;
    }
  }
}

// Removes an output that will not be published; false (said) when it stays behind.
bool remove_output(FileTask& task) {
  Status removed = task.output_file->remove();
  if (removed.ok()) return true;
  DIAG_FAILURE(LOG_ERROR, removed.error(), "Could not remove CAN file");
  return false;
}

// A whole output that cannot take its name goes.
bool drop_unnamed_output(FileTask& task) {
  remove_output(task);
  task.output_state = OutputState::unnamed;
  return false;
}

// Without -d: the output replaces whatever is at its name.
bool name_output(FileTask& task) {
  Status renamed = task.output_file->publish(true);
  if (!renamed.ok()) {
    DIAG_FAILURE(LOG_ERROR, renamed.error(), "Could not rename CAN file to %s",
                 task.output_file->final_path().c_str());
    return drop_unnamed_output(task);
  }
  task.output_state = OutputState::named;
  return true;
}

// With -d the input goes once its trace is published: that trace must never take the place of
// another, whether from an earlier run or from this one. Byte for byte the same is no other.
bool stage_output(ConversionJob& job, FileTask& task) {
  FolderRoot* output_root = job.setup().output_root;
  const SmallString& final_path = task.output_file->final_path();
  bool taken = job.durable_commit().holds_trace_for(final_path);
  Result<PathStatus> existing = folder_root_identify(output_root, final_path.view());
  // A rerun after a run without -d finds its own trace there: that one will do.
  bool identical = !taken && existing.ok() && is_regular_file(existing.value()) &&
                   same_bytes(output_root, final_path.view(),
                              task.output_file->temporary_path().view());
  if (!identical && (taken || existing.error() != ENOENT)) {
    DIAG(LOG_ERROR, "Trace %s exists, not overwritten: remove it, or convert without -d",
         final_path.c_str());
    return drop_unnamed_output(task);
  }
  task.output_identical = identical;
  task.output_existing = existing.value();
  task.output_state = OutputState::staged;
  return true;
}

// Written in place, the trace would have replaced what was at its name and then gone: the
// name ends empty. A folder, or nothing, stays as it is.
bool remove_previous_trace(FolderRoot* output_root, StrView final_path) {
  Result<PathStatus> found = folder_root_stat(output_root, final_path);
  if (!found.ok()) return true;
  const PathStatus& status = found.value();
  if (!status.is_link && (status.kind == PATH_MISSING || status.kind == PATH_DIRECTORY)) {
    return true;
  }
  Status removed = folder_root_remove(output_root, final_path);
  if (removed.ok()) return true;
  DIAG_FAILURE(LOG_ERROR, removed.error(), "Could not remove CAN file");
  return false;
}

}  // namespace

bool output_open(ConversionJob& job, FileTask& task) {
  SmallString path(task.info.output_path.view());
  path.append(task.sink->extension());
  Result<std::unique_ptr<StagedFile>> created =
      StagedFile::create(job.setup().output_root, path.view(), task.opened.permissions,
                         job.next_output_seed());
  if (!created.ok()) {
    DIAG_FAILURE(LOG_ERROR, created.error(), "Could not open output file for CAN: %s",
                 path.c_str());
    return false;
  }
  task.output_file = std::move(created).value();
  if (!task.sink->new_file(task.info, task.output_file->stream(), task.continuation)) {
    (void)task.output_file->close();
    remove_output(task);
    task.output_file.reset();
    return false;
  }
  task.output_state = OutputState::writing;
  DIAG(LOG_DEBUG, "Converting %s into %s", task.info.input_path.c_str(), path.c_str());
  return true;
}

bool output_end(FileTask& task, bool input_whole) {
  // Nothing of ours is on disk when the output could not be made.
  if (task.output_state != OutputState::writing) return true;
  int64_t frames = task.sink->end_file();
  bool result = true;
  Status closed = task.output_file->close();
  if (!closed.ok()) {
    DIAG_FAILURE(LOG_ERROR, closed.error(), "Could not close CAN file");
    result = false;
  }
  // An output cut short by a failed write or close, or by an input that could not be read to
  // its end, could pass for a whole one: it is never published. The input is kept, so nothing
  // is lost.
  bool whole = result && frames > 0 && input_whole;
  if (whole) {
    DIAG(LOG_DEBUG, "Wrote %" PRId64 " frame%s to %s", frames, frames == 1 ? "" : "s",
         task.output_file->final_path().c_str());
  }
  // No other file in flight wants this name: it is given now, on this thread, rather than in
  // turn. A durable file's trace waits for the commit whatever.
  if (whole && !task.durable && !task.name_shared) return name_output(task);
  if (whole) {
    task.output_state = OutputState::whole;
    return result;
  }
  if (!remove_output(task)) {
    task.output_state = OutputState::left;
    return false;
  }
  task.output_state = OutputState::failed;
  return result;
}

bool output_publish(ConversionJob& job, FileTask& task, bool run_stops) {
  switch (task.output_state) {
    case OutputState::named:
      return true;
    case OutputState::unnamed:
      return false;
    case OutputState::whole:
      // The run stops: what was not published by now never is.
      if (run_stops) return remove_output(task);
      return task.durable ? stage_output(job, task) : name_output(task);
    case OutputState::failed:
      // A durable file's input stays, and so does what is at its name; an interrupted run
      // changes nothing more.
      if (task.durable || run_stops) return true;
      return remove_previous_trace(job.setup().output_root,
                                   task.output_file->final_path().view());
    default:
      return true;
  }
}

}  // namespace velmarch
