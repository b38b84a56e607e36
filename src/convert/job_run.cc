// One run of the job: the walk's files go through an ordered pipeline, several at once, and
// come out finished in walk order, so that the results are those of one file after another.

#include <algorithm>
#include <cerrno>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/ordered_pipeline.h"
#include "convert/conversion_job.h"
#include "convert/input_count.h"
#include "convert/input_walk.h"
#include "convert/split_chain.h"
#include "diag/log.h"
#include "fs/path_value.h"
#include "stream/file_stream.h"

namespace velmarch {

namespace {

using On = OrderedPipeline::On;
// A file is opened and its header read on a worker, accepted in walk order (on the worker whose
// turn it is), converted on a worker and finished in walk order on the job's thread.
const std::vector<On> FILE_STEPS = {On::worker, On::ordered, On::worker, On::caller};

// One place in the order in which a run finishes things: a file, or lines the walk said
// between files, or the commit at the end of an input.
struct Turn {
  std::unique_ptr<FileTask> file;
  LogCapture said;
  bool commit = false;
  std::shared_ptr<SplitChain> closes;  // the recording that the end of the input ended
  bool cut_short = false;              // the walk of the input stopped before its end
  std::unique_ptr<ReportEntry> walked;  // an input the walk passed over or did not find
};

// The formats of the files in flight, one each: the job's own and more made by it. A worker
// takes one when its file is accepted; the job's thread gives it back when the file is done.
// With --merge-splits a recording takes one when its first file is accepted and gives it back
// once no file is left to feed it: each recording holding one then has a file in flight, or is
// the one that the file being decided ends.
class SinkPool {
 public:
  // As many as wanted, or only the job's own when its format cannot make more.
  SinkPool(TraceSink* own, size_t wanted) {
    free_.push_back(own);
    while (free_.size() < wanted) {
      std::unique_ptr<TraceSink> sink = own->another();
      if (!sink) break;
      free_.push_back(sink.get());
      made_.push_back(std::move(sink));
    }
    if (free_.size() < wanted) {
      free_ = {own};
      made_.clear();
    }
  }
  // Before the run only.
  size_t size() const { return free_.size(); }

  TraceSink* take() {
    std::lock_guard<std::mutex> hold(lock_);
    TraceSink* sink = free_.back();
    free_.pop_back();
    return sink;
  }
  void give_back(TraceSink* sink) {
    std::lock_guard<std::mutex> hold(lock_);
    free_.push_back(sink);
  }

 private:
  std::mutex lock_;
  std::vector<TraceSink*> free_;  // under lock_ once the run goes
  std::vector<std::unique_ptr<TraceSink>> made_;
};

// How many files are in flight at once, on how many workers, within what memory.
struct RunShape {
  int workers;
  size_t window;
  int64_t memory_budget;
};

// At most 8 files per worker.
size_t files_in_flight(const ConversionFlags& flags) {
  return flags.jobs > 1 ? static_cast<size_t>(8 * flags.jobs) : 1;
}

RunShape shape_of(const ConversionFlags& flags, const SinkPool& sinks) {
  RunShape shape{flags.jobs > 1 ? flags.jobs : 0, files_in_flight(flags), 0};
  // A format that takes one file at a time makes a run of one file at a time.
  if (sinks.size() < shape.window) shape = RunShape{0, 1, 0};
  int64_t buffer = flags.buffer_size;
  shape.memory_budget = buffer > 0 ? std::max(shape.workers, 1) * (buffer + (int64_t{16} << 20))
                                   : int64_t{512} << 20;
  return shape;
}

// Everything of a run that lives only while it runs. All of it is the job's thread's, in walk
// order, but the pool of formats, which workers share under its lock.
class JobRun final : public WalkVisitor {
 public:
  explicit JobRun(ConversionJob& job)
      : job_(job),
        sinks_(job.setup().sink, files_in_flight(job.flags())),
        shape_(shape_of(job.flags(), sinks_)),
        pipeline_(shape_.workers, FILE_STEPS, shape_.window, shape_.memory_budget) {}

  // The inputs' status, or none when the status of one could not be queried: what was found so
  // far is then dropped.
  std::optional<ExitStatus> convert(const StringList& inputs) {
    std::optional<ExitStatus> walked;
    {
      LogCaptureScope walk(&walk_log_);
      walked = walk_inputs(inputs);
      hand_over_walk_log();
    }
    pipeline_.drain();
    if (!walked) return std::nullopt;
    return *walked | finished_;
  }

 private:
  std::optional<ExitStatus> walk_inputs(const StringList& inputs) {
    FolderRoot* root = job_.setup().input_root;
    ExitStatus status = EXIT_OK;
    bool first = true;
    for (const SmallString& input : inputs) {
      if (job_.check_interruption()) break;
      if (job_.flags().delete_converted && !first) wait_for_deletions_before(input.view());
      first = false;
      std::optional<SmallString> output =
          output_of_input(root, input.view(), job_.flags().no_append_root);
      if (!output) return std::nullopt;
      status |= walk_input(root, input.view(), output->view(), *this);
      // A stop seen by now may have cut the walk short, and its last recording with it.
      bool cut_short = job_.stopped();
      // Each input's deletions are done before the next input is looked at: an input given
      // twice is then met the second time as a run that deleted every file at once would.
      hand_over_walk_log();
      add_commit_turn(cut_short);
    }
    return status;
  }

  // The end of an input: its last recording ends in turn, then -d's commit is done.
  void add_commit_turn(bool cut_short) {
    auto commit = std::make_shared<Turn>();
    commit->commit = true;
    commit->cut_short = cut_short;
    std::vector<OrderedPipeline::Step> steps(FILE_STEPS.size());
    if (job_.flags().merge_splits) {
      steps[1] = [this, commit] {
        if (open_chain_) commit->closes = close_chain();
      };
    }
    take_turn(commit, std::move(steps), 0);
  }

  bool stop_requested() override { return job_.check_interruption(); }

  void on_passed_over(StrView input, const PathStatus& status) override {
    report_walked(input, InputOutcome::passed_over, "not a txt file", status.size);
  }

  void on_missing(StrView input) override {
    report_walked(input, InputOutcome::failed, "Could not find input file/folder", 0);
  }

  // An input of the walk that is no file to convert takes its place in the report.
  void report_walked(StrView input, InputOutcome outcome, const char* reason, int64_t bytes) {
    if (job_.setup().report == nullptr) return;
    hand_over_walk_log();
    auto turn = std::make_shared<Turn>();
    turn->walked = std::make_unique<ReportEntry>();
    ReportEntry& entry = *turn->walked;
    entry.input = report_path(job_.setup().input_root, input);
    entry.outcome = outcome;
    entry.reason = reason;
    entry.input_bytes = bytes;
    take_turn(turn, {}, 0);
  }

  // Makes the file's output folder, then puts the file in line.
  void on_file(const WalkedFile& file) override {
    StrView folder = path_directory_part(file.output);
    // Files of one folder come one after another: the folders are made once for all of them. A
    // failure is told by each of its files, with the reason.
    if (!made_folder_ || made_folder_->view() != folder) {
      made_folder_error_ = 0;
      Status made = folder_root_make_directories(job_.setup().output_root, folder);
      if (!made.ok()) made_folder_error_ = made.error() != 0 ? made.error() : EIO;
      made_folder_ = SmallString(folder);
    }
    files_started_.insert({file.status.device, file.status.inode});
    hand_over_walk_log();
    auto turn = std::make_shared<Turn>();
    turn->file = std::make_unique<FileTask>(file.input, file.output, file.through_link);
    FileTask* task = turn->file.get();
    task->listed = file.status;
    task->output_folder_error = made_folder_error_;
    // A name that another file in flight writes too is given in turn only.
    int& writing = names_in_flight_[std::string(file.output)];
    task->name_shared = writing++ > 0;
    take_turn(turn,
              {[this, task] {
                 LogCaptureScope keep(&task->log);
                 file_open(job_, *task);
               },
               [this, task] {
                 LogCaptureScope keep(&task->log);
                 file_decide(job_, *task);
                 if (job_.flags().merge_splits) {
                   place_in_chain(*task);
                 } else if (task->state == FileState::accepted) {
                   task->sink = sinks_.take();  // in flight now, so one is free
                 }
               },
               [this, task] {
                 LogCaptureScope keep(&task->log);
                 file_convert(job_, *task);
               }},
              memory_for(file.status));
  }

  // In turn, with --merge-splits: an accepted file that continues the open recording is
  // attached to it; any other file ends it, but a repeat, which is passed over. An accepted
  // file that does not continue it starts the next.
  void place_in_chain(FileTask& task) {
    if (task.state == FileState::repeat || task.state == FileState::abandoned) return;
    bool accepted = task.state == FileState::accepted;
    if (open_chain_ && !(accepted && task.continuation)) task.closes = close_chain();
    if (!accepted) return;
    if (!open_chain_) {
      // Ending the last one may have freed its format: one is free now.
      open_chain_ = std::make_shared<SplitChain>(
          sinks_.take(), [this](TraceSink* sink) { sinks_.give_back(sink); });
    }
    task.chain = open_chain_;
    task.place_in_chain = open_chain_->attach(task);
  }

  std::shared_ptr<SplitChain> close_chain() {
    std::shared_ptr<SplitChain> chain = std::move(open_chain_);
    open_chain_.reset();
    chain->close();
    return chain;
  }

  // A recording's trace, once every file of it was finished: none after the run's stop was
  // told, nor one whose walk the stop cut short.
  void finish_chain(SplitChain& chain, bool cut_short) {
    ExitStatus status = split_chain_finish(job_, chain, cut_short || job_.stop_told());
    if (!job_.stopped()) finished_ |= status;
  }

  // The turn comes after everything found so far; its last step finishes it.
  void take_turn(const std::shared_ptr<Turn>& turn, std::vector<OrderedPipeline::Step> steps,
                 int64_t memory) {
    steps.resize(FILE_STEPS.size());
    steps.back() = [this, turn] { finish_turn(*turn); };
    pipeline_.add(std::move(steps), memory);
  }

  // On the job's thread, in walk order: says what was kept for the turn and finishes it.
  void finish_turn(Turn& turn) {
    LogCaptureScope direct(nullptr);
    turn.said.replay();
    if (turn.commit) {
      if (turn.closes) finish_chain(*turn.closes, turn.cut_short);
      if (!job_.stopped()) finished_ |= job_.durable_commit().commit(job_);
      return;
    }
    RunReport* report = job_.setup().report;
    if (turn.walked) {
      if (report != nullptr && !job_.stop_told()) report->release(report->add(*turn.walked));
      return;
    }
    if (!turn.file) return;
    FileTask& task = *turn.file;
    // The recording that deciding this file ended goes first: it ended before this file began.
    if (task.closes) finish_chain(*task.closes, false);
    // A split that could not be fed whole ended its trace.
    bool ended_trace = task.trace && task.state != FileState::converted;
    // What the run never did, or did after its stop, is not reported.
    bool reported =
        report != nullptr && task.state != FileState::abandoned && !job_.stop_told();
    if (reported) {
      ReportEntry entry;
      entry.input = report_path(job_.setup().input_root, task.info.input_path.view());
      task.report_entry = report->add(std::move(entry));
    }
    ExitStatus result;
    {
      LogErrorTap tap;
      result = file_finish(job_, task);
      if (reported) {
        fill_report_entry(report->entry(task.report_entry), job_, task, tap.first_error());
      }
    }
    if (reported) report->release(task.report_entry);
    if (task.sink != nullptr && !task.chain) sinks_.give_back(task.sink);
    auto name = names_in_flight_.find(std::string(task.info.output_path.view()));
    if (--name->second == 0) names_in_flight_.erase(name);
    if (job_.stopped()) return;
    if (!result.ok()) log_conversion_failed(task.info.input_path.view());
    if (ended_trace) result |= merged_trace_finish(job_, *task.trace, false);
    finished_ |= result | job_.durable_commit().commit_when_due(job_);
  }

  // What the walk said since its last turn is said in its place: after every file found before.
  void hand_over_walk_log() {
    if (walk_log_.empty()) return;
    auto turn = std::make_shared<Turn>();
    std::swap(turn->said, walk_log_);
    take_turn(turn, {}, 0);
  }

  // With -d an input's files go once its commit is done. A later input that a deletion could
  // change (a folder, or a file already started under another name) waits for every file
  // before it, as it would in a run that converted one file after another.
  void wait_for_deletions_before(StrView input) {
    Result<PathStatus> status = folder_root_stat(job_.setup().input_root, input);
    bool unaffected = status.ok() && status.value().kind == PATH_FILE &&
                      files_started_.count({status.value().device, status.value().inode}) == 0;
    if (unaffected) return;
    hand_over_walk_log();
    pipeline_.drain();
  }

  // The memory a file holds while in flight: its read buffer and the write block of its trace.
  int64_t memory_for(const PathStatus& status) const {
    int64_t buffer = job_.flags().buffer_size;
    if (buffer < 0) buffer = std::min(status.size, FILE_READ_BLOCK);
    return buffer + static_cast<int64_t>(FILE_STREAM_WRITE_BLOCK);
  }

  ConversionJob& job_;
  SinkPool sinks_;
  const RunShape shape_;
  OrderedPipeline pipeline_;

  LogCapture walk_log_;  // what the walk said since its last turn
  std::optional<SmallString> made_folder_;  // the output folder made for the last file
  int made_folder_error_ = 0;               // why making it failed; 0 when it is there
  std::set<std::pair<uint64_t, uint64_t>> files_started_;  // device and inode
  std::map<std::string, int> names_in_flight_;  // output paths of the files in flight
  std::shared_ptr<SplitChain> open_chain_;  // in turn: the recording files may still join
  ExitStatus finished_;  // of the files and commits finished so far
};

}  // namespace

ExitStatus job_run(ConversionJob& job, const StringList& inputs) {
  if (job.setup().progress != nullptr) count_inputs(job, inputs, *job.setup().progress);
  std::optional<ExitStatus> status = JobRun(job).convert(inputs);
  if (job.stopped()) {
    job.tell_stop();
    job.durable_commit().publish_on_stop(job);
  }
  return status.value_or(EXIT_INTERNAL);
}

}  // namespace velmarch
