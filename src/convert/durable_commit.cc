#include "convert/durable_commit.h"

#include <cerrno>

#include "base/exit_status.h"
#include "convert/conversion_job.h"
#include "diag/log.h"

namespace velmarch {

namespace {

// A file counted as converted whose trace could not be published in the end failed after all:
// the summary counts only what is on disk.
void count_unpublished(const ConversionJob& job, const PendingTrace& trace) {
  RunProgress* progress = job.setup().progress;
  if (progress == nullptr) return;
  progress->traces.fetch_sub(1, std::memory_order_relaxed);
  for (const PendingInput& input : trace.inputs) {
    if (!input.failed) count_converted_as_failed(*progress);
  }
}

void remove_trace(const PendingTrace& pending) {
  Status removed = pending.trace->remove();
  if (!removed.ok()) DIAG_FAILURE(LOG_ERROR, removed.error(), "Could not remove CAN file");
}

// The trace at the name, flushed by now, stands for the new one while it is still the file
// whose bytes were compared.
bool keep_identical(const ConversionJob& job, const PendingTrace& pending) {
  const SmallString& final_path = pending.trace->final_path();
  Result<PathStatus> now = folder_root_identify(job.setup().output_root, final_path.view());
  if (now.ok() && same_file_state(pending.existing, now.value())) {
    DIAG(LOG_DEBUG, "Kept the identical trace %s", final_path.c_str());
    return true;
  }
  DIAG(LOG_ERROR, "Trace %s exists, not overwritten: remove it, or convert without -d",
       final_path.c_str());
  return false;
}

// Removes an input whose trace is durable, when it is still the file that was read; removed
// says whether it went.
ExitStatus remove_input(ConversionJob& job, const PendingInput& input, bool& removed) {
  StrView path = input.input_path.view();
  if (job.check_interruption()) {
    DIAG(LOG_DEBUG, "Kept %.*s: the run was interrupted", STR_VIEW_ARG(path));
    return EXIT_OK;
  }
  // A log still being uploaded, or replaced meanwhile, holds data its trace has not.
  FolderRoot* input_root = job.setup().input_root;
  Result<PathStatus> now = folder_root_identify(input_root, path);
  if (!now.ok() || !same_file_state(input.identity, now.value())) {
    DIAG(LOG_ERROR, "Input changed during conversion, not removed: %.*s", STR_VIEW_ARG(path));
    log_conversion_failed(path);
    return EXIT_FILE_FAILED;
  }
  Status removal = folder_root_remove(input_root, path);
  removed = removal.ok();
  if (!removed) {
    DIAG_FAILURE(LOG_ERROR, removal.error(), "Could not remove input file after conversion: %.*s",
                 STR_VIEW_ARG(path));
  } else {
    DIAG(LOG_DEBUG, "Removed %.*s: its trace is whole and on disk", STR_VIEW_ARG(path));
  }
  return EXIT_OK;
}

}  // namespace

// Makes the pending traces durable and publishes them, in order, never over anything at their
// names; answers for each whether it is now published and durable.
std::vector<bool> DurableCommit::publish_traces(ConversionJob& job,
                                                std::vector<std::string>& failures) {
  FolderRoot* output_root = job.setup().output_root;
  std::vector<bool> published(pending_.size(), false);
  failures.assign(pending_.size(), {});
  std::vector<SmallString> flushed;
  for (const PendingTrace& pending : pending_) {
    flushed.push_back(pending.identical ? pending.trace->final_path()
                                      : pending.trace->temporary_path());
  }
  // The data first, then the names: a power cut leaves either the old name or the whole trace.
  Status sync = folder_root_sync(output_root, flushed);
  bool synced = sync.ok();
  int sync_error = sync.error();
  std::vector<SmallString> finals;
  for (size_t i = 0; i < pending_.size(); ++i) {
    LogErrorTap tap;
    const PendingTrace& pending = pending_[i];
    const SmallString& final_path = pending.trace->final_path();
    Status renamed = Status::failure();
    if (!synced) {
      DIAG(LOG_ERROR, "Could not flush CAN file %s to disk", final_path.c_str());
      log_reason(LOG_ERROR, sync_error);
    } else if (pending.identical) {
      renamed = keep_identical(job, pending) ? Status() : Status::failure(EEXIST);
    } else {
      renamed = pending.trace->publish(false);
      if (renamed.error() == EEXIST) {
        DIAG(LOG_ERROR, "Trace %s exists, not overwritten: remove it, or convert without -d",
             final_path.c_str());
      } else if (!renamed.ok()) {
        DIAG_FAILURE(LOG_ERROR, renamed.error(), "Could not rename CAN file to %s",
                     final_path.c_str());
      }
    }
    if (!renamed.ok() || pending.identical) {
      remove_trace(pending);
      if (!renamed.ok()) {
        failures[i] = tap.first_error();
        continue;
      }
    }
    published[i] = true;
    finals.push_back(final_path);
  }
  Status names = finals.empty() ? Status() : folder_root_sync(output_root, finals);
  if (!names.ok()) {
    sync_error = names.error();
    for (size_t i = 0; i < pending_.size(); ++i) {
      if (!published[i]) continue;
      LogErrorTap tap;
      DIAG(LOG_ERROR, "Could not flush CAN file %s to disk",
           pending_[i].trace->final_path().c_str());
      log_reason(LOG_ERROR, sync_error);
      published[i] = false;
      failures[i] = tap.first_error();
    }
  }
  return published;
}

PendingInput pending_input_of(const FileTask& task, bool failed) {
  return PendingInput{task.info.input_path, task.opened, task.reached_through_link, failed,
                      task.report_entry};
}

bool DurableCommit::holds_trace_for(const SmallString& final_path) const {
  for (const PendingTrace& pending : pending_) {
    if (pending.trace->final_path() == final_path) return true;
  }
  return false;
}

void DurableCommit::queue(const ConversionJob& job, FileTask& output,
                          std::vector<PendingInput> inputs) {
  bool trace_waiting = output.output_state == OutputState::staged;
  for (const PendingInput& input : inputs) {
    StrView path = input.input_path.view();
    if (input.failed) continue;
    if (!trace_waiting) {
      DIAG(LOG_WARN, "No frames converted from %.*s, input kept", STR_VIEW_ARG(path));
    } else if (input.reached_through_link) {
      // As rm -r: nothing outside the tree the user named goes.
      DIAG(LOG_WARN, "Not removing %.*s: reached through a link", STR_VIEW_ARG(path));
    }
  }
  if (!trace_waiting) return;
  RunReport* report = job.setup().report;
  for (const PendingInput& input : inputs) {
    pending_bytes_ += input.identity.size;
    if (report != nullptr) report->hold(input.report_entry);
  }
  pending_.push_back(PendingTrace{std::move(output.output_file), output.output_identical,
                                  output.output_existing, std::move(inputs)});
}

ExitStatus DurableCommit::commit(ConversionJob& job) {
  if (pending_.empty()) return EXIT_OK;
  std::vector<std::string> failures;
  std::vector<bool> published = publish_traces(job, failures);
  RunReport* report = job.setup().report;
  ExitStatus status = EXIT_OK;
  for (size_t i = 0; i < pending_.size(); ++i) {
    for (const PendingInput& input : pending_[i].inputs) {
      LogErrorTap tap;
      ExitStatus removal = EXIT_OK;
      bool removed = false;
      if (!published[i]) {
        if (!input.failed) log_conversion_failed(input.input_path.view());
      } else if (input.removable()) {
        removal = remove_input(job, input, removed);
        status |= removal;
      }
      if (report == nullptr) continue;
      ReportEntry& entry = report->entry(input.report_entry);
      // An input that failed before keeps its own reason.
      if (entry.outcome == InputOutcome::converted && (!published[i] || !removal.ok())) {
        entry.outcome = InputOutcome::failed;
        entry.reason = published[i] ? tap.first_error() : failures[i];
      }
      if (!published[i]) entry.output.clear();
      entry.removed = removed;
      report->release(input.report_entry);
    }
    if (!published[i]) {
      count_unpublished(job, pending_[i]);
      status |= EXIT_FILE_FAILED;
    }
  }
  clear();
  return status;
}

void DurableCommit::publish_on_stop(ConversionJob& job) {
  if (!pending_.empty()) {
    std::vector<std::string> failures;
    std::vector<bool> published = publish_traces(job, failures);
    RunReport* report = job.setup().report;
    for (size_t i = 0; i < pending_.size(); ++i) {
      if (!published[i]) count_unpublished(job, pending_[i]);
      if (report == nullptr) continue;
      for (const PendingInput& input : pending_[i].inputs) {
        ReportEntry& entry = report->entry(input.report_entry);
        if (!published[i] && entry.outcome == InputOutcome::converted) {
          entry.outcome = InputOutcome::failed;
          entry.reason = failures[i];
        }
        if (!published[i]) entry.output.clear();
        report->release(input.report_entry);
      }
    }
  }
  clear();
}

ExitStatus DurableCommit::commit_when_due(ConversionJob& job) {
  // One flush for many small files, but not so many that a power cut loses much work.
  constexpr size_t COMMIT_FILES = 1024;
  constexpr int64_t COMMIT_BYTES = 256 << 20;
  if (pending_.size() < COMMIT_FILES && pending_bytes_ < COMMIT_BYTES) return EXIT_OK;
  return commit(job);
}

void DurableCommit::clear() {
  pending_.clear();
  pending_bytes_ = 0;
}

}  // namespace velmarch
