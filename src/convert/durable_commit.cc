// --delete-converted: the traces of converted inputs wait, whole under their hidden names,
// until enough of them are done; then they are flushed together, given their names and
// flushed again, and only then do their inputs go.

#include <cerrno>

#include "base/exit_status.h"
#include "convert/conversion_job.h"
#include "diag/log.h"

namespace velmarch {

namespace {

// A file counted as converted whose trace could not be published in the end failed after all:
// the summary counts only what is on disk.
void count_unpublished(ConversionJob& job, const PendingInput& input) {
  if (job.progress == nullptr || input.failed) return;
  job.progress->files_converted.fetch_sub(1, std::memory_order_relaxed);
  job.progress->files_failed.fetch_add(1, std::memory_order_relaxed);
}

void remove_trace(const PendingInput& input) {
  Status removed = input.trace->remove();
  if (!removed.ok()) DIAG_FAILURE(LOG_ERROR, removed.error(), "Could not remove CAN file");
}

// The trace at the name, flushed by now, stands for the new one while it is still the file
// whose bytes were compared.
bool keep_identical(ConversionJob& job, const PendingInput& input) {
  const SmallString& final_path = input.trace->final_path();
  Result<PathStatus> now = folder_root_identify(job.output_root, final_path.view());
  if (now.ok() && same_file_state(input.existing, now.value())) {
    DIAG(LOG_DEBUG, "Kept the identical trace %s", final_path.c_str());
    return true;
  }
  DIAG(LOG_ERROR, "Trace %s exists, not overwritten: remove it, or convert without -d",
       final_path.c_str());
  return false;
}

// Makes the pending traces durable and publishes them, in order, never over anything at their
// names; answers for each whether it is now published and durable.
std::vector<bool> commit_traces(ConversionJob& job) {
  std::vector<bool> published(job.pending.size(), false);
  std::vector<SmallString> flushed;
  for (const PendingInput& input : job.pending) {
    flushed.push_back(input.identical ? input.trace->final_path()
                                      : input.trace->temporary_path());
  }
  // The data first, then the names: a power cut leaves either the old name or the whole trace.
  Status sync = folder_root_sync(job.output_root, flushed);
  bool synced = sync.ok();
  int sync_error = sync.error();
  std::vector<SmallString> finals;
  for (size_t i = 0; i < job.pending.size(); ++i) {
    const PendingInput& input = job.pending[i];
    const SmallString& final_path = input.trace->final_path();
    Status renamed = Status::failure();
    if (!synced) {
      DIAG(LOG_ERROR, "Could not flush CAN file %s to disk", final_path.c_str());
      log_reason(LOG_ERROR, sync_error);
    } else if (input.identical) {
      renamed = keep_identical(job, input) ? Status() : Status::failure(EEXIST);
    } else {
      renamed = input.trace->publish(false);
      if (renamed.error() == EEXIST) {
        DIAG(LOG_ERROR, "Trace %s exists, not overwritten: remove it, or convert without -d",
             final_path.c_str());
      } else if (!renamed.ok()) {
        DIAG_FAILURE(LOG_ERROR, renamed.error(), "Could not rename CAN file to %s",
                     final_path.c_str());
      }
    }
    if (!renamed.ok() || input.identical) {
      remove_trace(input);
      if (!renamed.ok()) continue;
    }
    published[i] = true;
    finals.push_back(final_path);
  }
  Status names = finals.empty() ? Status() : folder_root_sync(job.output_root, finals);
  if (!names.ok()) {
    sync_error = names.error();
    for (size_t i = 0; i < job.pending.size(); ++i) {
      if (!published[i]) continue;
      DIAG(LOG_ERROR, "Could not flush CAN file %s to disk",
           job.pending[i].trace->final_path().c_str());
      log_reason(LOG_ERROR, sync_error);
      published[i] = false;
    }
  }
  return published;
}

}  // namespace

void job_queue_input(ConversionJob& job, FileTask& task, bool converted) {
  StrView input_path = task.input_path.view();
  bool trace_waiting = task.output_state == OutputState::staged;
  if (converted && !trace_waiting) {
    DIAG(LOG_WARN, "No frames converted from %.*s, input kept", STR_VIEW_ARG(input_path));
  }
  if (!trace_waiting) return;
  // As rm -r: nothing outside the tree the user named goes.
  if (converted && task.reached_through_link) {
    DIAG(LOG_WARN, "Not removing %.*s: reached through a link", STR_VIEW_ARG(input_path));
  }
  job.pending.push_back(PendingInput{SmallString(input_path), task.opened,
                                     converted && !task.reached_through_link, !converted,
                                     std::move(task.output_file), task.output_identical,
                                     task.output_existing});
  job.pending_bytes += task.opened.size;
}

int job_commit(ConversionJob& job) {
  if (job.pending.empty()) return EXIT_OK;
  std::vector<bool> published = commit_traces(job);
  int status = EXIT_OK;
  for (size_t i = 0; i < job.pending.size(); ++i) {
    const PendingInput& input = job.pending[i];
    StrView path = input.input_path.view();
    if (!published[i]) {
      if (!input.failed) DIAG(LOG_ERROR, "Error during conversion of %.*s", STR_VIEW_ARG(path));
      count_unpublished(job, input);
      status |= EXIT_FILE_FAILED;
      continue;
    }
    if (!input.remove) continue;
    if (job_interrupted(job)) {
      DIAG(LOG_DEBUG, "Kept %.*s: the run was interrupted", STR_VIEW_ARG(path));
      continue;
    }
    // A log still being uploaded, or replaced meanwhile, holds data its trace has not.
    Result<PathStatus> now = folder_root_identify(job.input_root, path);
    if (!now.ok() || !same_file_state(input.identity, now.value())) {
      DIAG(LOG_ERROR, "Input changed during conversion, not removed: %.*s", STR_VIEW_ARG(path));
      DIAG(LOG_ERROR, "Error during conversion of %.*s", STR_VIEW_ARG(path));
      status |= EXIT_FILE_FAILED;
      continue;
    }
    Status removed = folder_root_remove(job.input_root, path);
    if (!removed.ok()) {
      DIAG_FAILURE(LOG_ERROR, removed.error(),
                   "Could not remove input file after conversion: %.*s", STR_VIEW_ARG(path));
    } else {
      DIAG(LOG_DEBUG, "Removed %.*s: its trace is whole and on disk", STR_VIEW_ARG(path));
    }
  }
  job.pending.clear();
  job.pending_bytes = 0;
  return status;
}

void job_publish_pending(ConversionJob& job) {
  if (!job.pending.empty()) {
    std::vector<bool> published = commit_traces(job);
    for (size_t i = 0; i < job.pending.size(); ++i) {
      if (!published[i]) count_unpublished(job, job.pending[i]);
    }
  }
  job.pending.clear();
  job.pending_bytes = 0;
}

int job_commit_when_due(ConversionJob& job) {
  // One flush for many small files, but not so many that a power cut loses much work.
  constexpr size_t COMMIT_FILES = 1024;
  constexpr int64_t COMMIT_BYTES = 256 << 20;
  if (job.pending.size() < COMMIT_FILES && job.pending_bytes < COMMIT_BYTES) return 0;
  return job_commit(job);
}

}  // namespace velmarch
