#include "convert/split_chain.h"

#include "convert/conversion_job.h"
#include "convert/trace_output.h"
#include "diag/log.h"

namespace velmarch {

MergedTrace::MergedTrace(const FileTask& first)
    : output(first.info.input_path.view(), first.info.output_path.view(),
             first.reached_through_link) {
  output.info = first.info;
  output.opened = first.opened;
  output.durable = first.durable;
  output.sink = first.sink;
  output.continuation = first.continuation;
  // Named in turn, once the recording has ended: with -m every trace is, so none is named
  // out of turn over another of the same name.
  output.name_shared = true;
}

SplitChain::SplitChain(TraceSink* sink, std::function<void(TraceSink*)> give_back)
    : sink_(sink), give_back_(std::move(give_back)) {}

size_t SplitChain::attach(FileTask& task) {
  std::lock_guard<std::mutex> hold(lock_);
  task.sink = sink_;
  return attached_++;
}

void SplitChain::close() {
  bool last_fed;
  {
    std::lock_guard<std::mutex> hold(lock_);
    closed_ = true;
    last_fed = fed_ == attached_;
  }
  // Outside the lock: the decision that ends the chain need not wait for the trace's last
  // writes, and no thread feeds it any more.
  if (last_fed) end_output();
}

bool SplitChain::feed_now_or_park(FileTask& task) {
  std::lock_guard<std::mutex> hold(lock_);
  if (fed_ == task.place_in_chain) return true;
  parked_[task.place_in_chain] = &task;
  return false;
}

std::shared_ptr<MergedTrace> SplitChain::trace_to_append_to() {
  std::lock_guard<std::mutex> hold(lock_);
  if (trace_ && trace_->broken) return nullptr;
  return trace_;
}

std::shared_ptr<MergedTrace> SplitChain::start_trace(const FileTask& first) {
  auto trace = std::make_shared<MergedTrace>(first);
  std::lock_guard<std::mutex> hold(lock_);
  trace_ = trace;
  return trace;
}

FileTask* SplitChain::fed(FileTask& task) {
  FileTask* next = nullptr;
  bool ends;
  {
    std::lock_guard<std::mutex> hold(lock_);
    fed_ = task.place_in_chain + 1;
    ends = closed_ && fed_ == attached_;
    auto parked = parked_.find(fed_);
    if (parked != parked_.end()) {
      next = parked->second;
      parked_.erase(parked);
    }
  }
  if (ends) end_output();
  return next;
}

std::shared_ptr<MergedTrace> SplitChain::last_trace() {
  std::lock_guard<std::mutex> hold(lock_);
  return trace_;
}

void SplitChain::end_output() {
  if (trace_ && !trace_->broken) {
    // Said in the trace's turn, whichever thread ends it.
    LogCaptureScope keep(&trace_->ending);
    trace_->output.output_ended = output_end(trace_->output, true);
  }
  give_back_(sink_);
}

ExitStatus split_chain_finish(ConversionJob& job, SplitChain& chain, bool run_stops) {
  std::shared_ptr<MergedTrace> trace = chain.last_trace();
  if (!trace || trace->finished) return EXIT_OK;
  return merged_trace_finish(job, *trace, run_stops);
}

namespace {

// Tells the report what became of the splits in the trace, once it ended: their entries were
// held for this. A trace that waits for -d's commit holds them on.
void report_splits(const ConversionJob& job, const MergedTrace& trace, InputOutcome outcome,
                   const std::string& reason) {
  RunReport* report = job.setup().report;
  if (report == nullptr) return;
  for (const PendingInput& input : trace.inputs) {
    ReportEntry& entry = report->entry(input.report_entry);
    if (outcome != InputOutcome::converted && entry.outcome == InputOutcome::converted) {
      entry.outcome = outcome;
      entry.output.clear();
      entry.reason = reason;
    }
    report->release(input.report_entry);
  }
}

}  // namespace

ExitStatus merged_trace_finish(ConversionJob& job, MergedTrace& trace, bool run_stops) {
  trace.finished = true;
  FileTask& output = trace.output;
  RunProgress* progress = job.setup().progress;
  LogErrorTap tap;
  if (run_stops) {
    report_splits(job, trace, InputOutcome::interrupted,
                  "the run stopped before its recording ended");
    // Nothing of a recording the run did not see end is published, nor counted as done.
    trace.ending.clear();
    (void)output_publish(job, output, true);
    if (progress != nullptr) {
      for (const PendingInput& input : trace.inputs) {
        if (!input.failed) progress->files_converted.fetch_sub(1, std::memory_order_relaxed);
      }
      progress->frames.fetch_sub(trace.frames, std::memory_order_relaxed);
    }
    return EXIT_OK;
  }
  trace.ending.replay();
  bool published = output_publish(job, output, false);
  if (!trace.broken && output.output_ended && published) {
    if (progress != nullptr && output.output_kept()) {
      progress->traces.fetch_add(1, std::memory_order_relaxed);
    }
    if (output.durable) job.durable_commit().queue(job, output, trace.inputs);
    report_splits(job, trace, InputOutcome::converted, {});
    return EXIT_OK;
  }
  if (!trace.broken) {
    DIAG(LOG_ERROR, "Error during end file callback");
  } else if (!trace.inputs.empty()) {
    DIAG(LOG_ERROR, "Trace %s not written: a later split of its recording failed",
         output.output_file->final_path().c_str());
  }
  report_splits(job, trace, InputOutcome::failed, tap.first_error());
  // The splits converted into it are in no trace after all.
  ExitStatus status = EXIT_OK;
  for (const PendingInput& input : trace.inputs) {
    if (input.failed) continue;
    log_conversion_failed(input.input_path.view());
    if (progress != nullptr) count_converted_as_failed(*progress);
    status |= EXIT_FILE_FAILED;
  }
  return status;
}

}  // namespace velmarch
