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
  // Named in turn, once the recording has ended.
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
  std::lock_guard<std::mutex> hold(lock_);
  closed_ = true;
  if (fed_ == attached_) end_output();
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
  std::lock_guard<std::mutex> hold(lock_);
  fed_ = task.place_in_chain + 1;
  if (closed_ && fed_ == attached_) end_output();
  was_fed_.notify_all();
  auto next = parked_.find(fed_);
  if (next == parked_.end()) return nullptr;
  FileTask* parked = next->second;
  parked_.erase(next);
  return parked;
}

void SplitChain::wait_until_fed(const FileTask& task) {
  std::unique_lock<std::mutex> hold(lock_);
  was_fed_.wait(hold, [&] { return fed_ > task.place_in_chain; });
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

ExitStatus merged_trace_finish(ConversionJob& job, MergedTrace& trace, bool run_stops) {
  trace.finished = true;
  FileTask& output = trace.output;
  if (run_stops) {
    // Nothing of a recording the run did not finish is published.
    trace.ending.clear();
    (void)output_publish(job, output, true);
    return EXIT_OK;
  }
  trace.ending.replay();
  bool published = output_publish(job, output, false);
  RunProgress* progress = job.setup().progress;
  if (!trace.broken && output.output_ended && published) {
    if (progress != nullptr && output.output_kept()) {
      progress->traces.fetch_add(1, std::memory_order_relaxed);
    }
    if (output.durable) job.durable_commit().queue(output, std::move(trace.inputs));
    return EXIT_OK;
  }
  if (!trace.broken) {
    DIAG(LOG_ERROR, "Error during end file callback");
  } else if (!trace.inputs.empty()) {
    DIAG(LOG_ERROR, "Trace %s not written: a later split of its recording failed",
         output.output_file->final_path().c_str());
  }
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
