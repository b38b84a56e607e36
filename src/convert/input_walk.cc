#include <algorithm>
#include <memory>
#include <vector>

#include "base/exit_status.h"
#include "convert/conversion_job.h"
#include "diag/log.h"
#include "fs/path_value.h"
#include "stream/file_stream.h"

namespace velmarch {

namespace {

// The same entry of the same volume, whatever its state.
bool same_file(const PathStatus& a, const PathStatus& b) {
  return a.device == b.device && a.inode == b.inode;
}

// "P" then "/" unless P is empty or ends in one, then the name.
SmallString child_path(StrView parent, StrView name) {
  SmallString child(parent);
  if (!parent.empty() && parent.back() != '/') child.append("/", 1);
  child.append(name);
  return child;
}

bool is_txt(StrView extension) {
  if (extension.size() != 3) return false;
  // ASCII folding answers as Unicode's simple case mapping would: nothing else maps onto t or x.
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  return lower(extension[0]) == 't' && lower(extension[1]) == 'x' && lower(extension[2]) == 't';
}

// Q without its extension. A name without any "." keeps it whole: "txt" is its own extension,
// and stripping it would name the output after the folder above.
StrView without_extension(StrView path) {
  StrView name = path_file_name(path);
  if (name.find('.') == StrView::npos) return path;
  size_t cut = path_extension(path).size() + 1;
  return path.substr(0, path.size() - std::min(cut, path.size()));
}

using On = OrderedPipeline::On;
// A file is opened and its header read on a worker, accepted in walk order (on the worker whose
// turn it is), converted on a worker and finished in walk order on the job's thread.
const std::vector<On> FILE_STEPS = {On::worker, On::ordered, On::worker, On::caller};

// The finishing step of every turn: runs on the job's thread, in walk order, and says what it
// says at once.
void finish_turn(ConversionJob& job) {
  LogCaptureScope direct(nullptr);
  std::unique_ptr<Turn> turn = std::move(job.turns.front());
  job.turns.pop_front();
  turn->said.replay();
  if (turn->commit) {
    if (!job.interrupted) job.finished_status |= job_commit(job);
    return;
  }
  if (!turn->file) return;
  FileTask& task = *turn->file;
  int result = file_finish(job, task);
  {
    std::lock_guard<std::mutex> lock(job.sinks_lock);
    job.free_sinks.push_back(task.sink);
  }
  auto name = job.names_in_flight.find(std::string(task.output_path.view()));
  if (--name->second == 0) job.names_in_flight.erase(name);
  if (job.interrupted) return;
  if (result != EXIT_OK) {
    DIAG(LOG_ERROR, "Error during conversion of %.*s", STR_VIEW_ARG(task.input_path.view()));
  }
  job.finished_status |= result | job_commit_when_due(job);
}

// Takes a turn after everything found so far.
void take_turn(ConversionJob& job, std::unique_ptr<Turn> turn,
               std::vector<OrderedPipeline::Step> steps, int64_t memory) {
  job.turns.push_back(std::move(turn));
  steps.resize(FILE_STEPS.size());
  steps.back() = [&job] { finish_turn(job); };
  job.pipeline->add(std::move(steps), memory);
}

// What the walk said since its last turn is said in its place: after every file found before.
void hand_over_walk_log(ConversionJob& job) {
  if (job.walk_log.empty()) return;
  auto turn = std::make_unique<Turn>();
  std::swap(turn->said, job.walk_log);
  take_turn(job, std::move(turn), {}, 0);
}

// The memory a file holds while in flight: its read buffer and the write block of its trace.
int64_t memory_for(const ConversionJob& job, const PathStatus& status) {
  int64_t buffer = job.flags->buffer_size;
  if (buffer < 0) buffer = std::min(status.size, FILE_READ_BLOCK);
  return buffer + static_cast<int64_t>(FILE_STREAM_WRITE_BLOCK);
}

// named: the file was named on the command line, so passing it over is news to the user.
int convert_file_entry(ConversionJob& job, StrView input, StrView output, bool through_link,
                       const PathStatus& status, bool named) {
  if (!is_txt(path_extension(input))) {
    DIAG(named ? LOG_WARN : LOG_DEBUG, "Passed over %.*s: not a txt file", STR_VIEW_ARG(input));
    return EXIT_OK;
  }
  if (job.counting) {
    job.progress->files_total.fetch_add(1, std::memory_order_relaxed);
    job.progress->bytes_total.fetch_add(status.size, std::memory_order_relaxed);
    return EXIT_OK;
  }
  StrView target = without_extension(output);
  StrView folder = path_directory_part(target);
  // Files of one folder come one after another: the folders are made once for all of them. A
  // failure is told by each of its files, with the reason.
  if (job.create_folders && (!job.made_folder_known || job.made_folder.view() != folder)) {
    job.made_folder_error = 0;
    Status made = folder_root_make_directories(job.output_root, folder);
    if (!made.ok()) job.made_folder_error = made.error() != 0 ? made.error() : EIO;
    job.made_folder = SmallString(folder);
    job.made_folder_known = true;
  }
  if (job.pipeline == nullptr) {
    int result = job_convert_file(job, input, target, through_link);
    if (job.interrupted) return result;
    if (result != 0) DIAG(LOG_ERROR, "Error during conversion of %.*s", STR_VIEW_ARG(input));
    return result | job_commit_when_due(job);
  }
  job.files_started.insert({status.device, status.inode});
  hand_over_walk_log(job);
  auto turn = std::make_unique<Turn>();
  turn->file = std::make_unique<FileTask>(input, target, through_link);
  FileTask* task = turn->file.get();
  task->listed = status;
  task->was_listed = true;
  task->output_folder_error = job.made_folder_error;
  // A name that another file in flight writes too is given in turn only.
  int& writing = job.names_in_flight[std::string(target)];
  task->info.name_shared = writing++ > 0;
  take_turn(job, std::move(turn),
            {[&job, task] {
               LogCaptureScope keep(&task->log);
               file_open(job, *task);
             },
             [&job, task] {
               // In flight now, so one of the window's sinks is free.
               {
                 std::lock_guard<std::mutex> lock(job.sinks_lock);
                 task->sink = job.free_sinks.back();
                 job.free_sinks.pop_back();
               }
               LogCaptureScope keep(&task->log);
               file_decide(job, *task);
             },
             [&job, task] {
               LogCaptureScope keep(&task->log);
               file_convert(job, *task);
             }},
            memory_for(job, status));
  return EXIT_OK;
}

// through_link: a folder on the way from the common root is a symbolic link. listed: the
// entry's status as its folder's listing gave it, or null for an input of the command line.
int convert_entry(ConversionJob& job, StrView input, StrView output, bool through_link,
                  const PathStatus* listed, std::vector<PathStatus>& descent) {
  if (job_interrupted(job)) return EXIT_OK;
  PathStatus status;
  if (listed != nullptr) {
    status = *listed;  // queried a moment ago, entry by entry
  } else {
    Result<PathStatus> found = folder_root_stat(job.input_root, input);
    if (!found.ok()) {
      DIAG_FAILURE(LOG_FATAL, found.error(), "Error during stat of %.*s, exiting",
                   STR_VIEW_ARG(input));
      return EXIT_INTERNAL;
    }
    status = found.value();
  }
  through_link = through_link || status.is_link;
  switch (status.kind) {
    case PATH_FILE:
      return convert_file_entry(job, input, output, through_link, status, listed == nullptr);
    case PATH_MISSING:
      DIAG(LOG_WARN, "Could not find input file/folder %.*s", STR_VIEW_ARG(input));
      return EXIT_INPUT_MISSING;
    case PATH_DIRECTORY:
      break;
    default:
      DIAG(LOG_FATAL, "Could not convert %.*s: neither a file nor a folder", STR_VIEW_ARG(input));
      return EXIT_INTERNAL;
  }

  // A link back to a folder of the current descent would mirror the tree without end.
  bool known = status.device != 0 || status.inode != 0;
  if (known) {
    for (const PathStatus& folder : descent) {
      if (same_file(folder, status)) {
        DIAG(LOG_WARN, "Skipping %.*s: it links back to a folder being converted",
             STR_VIEW_ARG(input));
        return EXIT_OK;
      }
    }
    descent.push_back(status);
  }
  DirEntryMap entries;
  int result = EXIT_OK;
  // Passing over a folder that cannot be read would report its files as converted.
  Status listing = folder_root_list(job.input_root, input, entries);
  if (!listing.ok()) {
    DIAG_FAILURE(LOG_ERROR, listing.error(), "Could not list folder %.*s", STR_VIEW_ARG(input));
    result = EXIT_INTERNAL;
  }
  for (const auto& [name, entry] : entries) {
    SmallString child_input = child_path(input, name.view());
    SmallString child_output = child_path(output, name.view());
    result |= convert_entry(job, child_input.view(), child_output.view(), through_link, &entry,
                            descent);
    if (job.interrupted) break;
  }
  if (known) descent.pop_back();
  return result;
}

}  // namespace

int job_convert_entry(ConversionJob& job, StrView input_path, StrView output_path) {
  std::vector<PathStatus> descent;
  return convert_entry(job, input_path, output_path, false, nullptr, descent);
}

namespace {

// With -d an input's files go once its commit is done. A later input that a deletion could
// change (a folder, or a file already started under another name) waits for every file before
// it, as it would in a run that converted one file after another.
void wait_for_deletions_before(ConversionJob& job, StrView input) {
  Result<PathStatus> found = folder_root_stat(job.input_root, input);
  const PathStatus& status = found.value();
  bool unaffected = found.ok() && status.kind == PATH_FILE &&
                    job.files_started.count({status.device, status.inode}) == 0;
  if (unaffected) return;
  hand_over_walk_log(job);
  job.pipeline->drain();
}

// The totals of a progress display, from a walk that only lists the folders: about 30 ms for
// 10,000 files, and the listings are then in the cache for the walk proper.
void count_inputs(ConversionJob& job, const StringList& inputs) {
  LogCapture unsaid;  // the walk proper says it all again, in its place
  LogCaptureScope quiet(&unsaid);
  job.counting = true;
  for (const SmallString& input : inputs) {
    if (job_interrupted(job)) break;
    job_convert_entry(job, input.view(), input.view());
  }
  job.counting = false;
}

int walk_inputs(ConversionJob& job, const StringList& inputs) {
  int status = EXIT_OK;
  bool first = true;
  for (const SmallString& input : inputs) {
    if (job_interrupted(job)) break;
    if (job.flags->delete_converted && !first) wait_for_deletions_before(job, input.view());
    first = false;
    SmallString output = input;
    if (!job.flags->no_append_root) {
      Result<PathStatus> kind = folder_root_stat(job.input_root, input.view());
      if (!kind.ok()) {
        DIAG_FAILURE(LOG_FATAL, kind.error(), "Could not query %.*s for information",
                     STR_VIEW_ARG(input.view()));
        return -1;
      }
      if (kind.value().kind == PATH_DIRECTORY) {
        size_t slash = output.view().find('/');
        if (slash == StrView::npos) {
          output.append(StrView("_out"));
        } else {
          small_string_insert(output, static_cast<int64_t>(slash), "_out", 4);
        }
      }
    }
    status |= job_convert_entry(job, input.view(), output.view());
    // Each input's deletions are done before the next input is looked at: an input given twice
    // is then met the second time as a run that deleted every file at once would meet it.
    hand_over_walk_log(job);
    auto commit = std::make_unique<Turn>();
    commit->commit = true;
    take_turn(job, std::move(commit), {}, 0);
  }
  return status;
}

}  // namespace

int job_run(ConversionJob& job, const StringList& inputs) {
  // Files in flight at once, and the sinks they need: one each, made by the job's own sink.
  int workers = job.flags->jobs > 1 ? job.flags->jobs : 0;
  size_t window = workers > 0 ? static_cast<size_t>(8 * workers) : 1;
  std::vector<std::unique_ptr<TraceSink>> more_sinks;
  job.free_sinks = {job.sink};
  while (workers > 0 && job.free_sinks.size() < window) {
    std::unique_ptr<TraceSink> sink = job.sink->another();
    if (!sink) break;
    job.free_sinks.push_back(sink.get());
    more_sinks.push_back(std::move(sink));
  }
  // A sink that takes one file at a time makes a run of one file at a time.
  if (job.free_sinks.size() < window) {
    workers = 0;
    window = 1;
    job.free_sinks = {job.sink};
  }
  int64_t buffer = job.flags->buffer_size;
  int64_t budget = buffer > 0 ? (workers > 0 ? workers : 1) * (buffer + (int64_t{16} << 20))
                              : int64_t{512} << 20;
  if (job.progress != nullptr) count_inputs(job, inputs);
  int status;
  {
    OrderedPipeline pipeline(workers, FILE_STEPS, window, budget);
    job.pipeline = &pipeline;
    job.finished_status = EXIT_OK;
    {
      LogCaptureScope walk(&job.walk_log);
      status = walk_inputs(job, inputs);
      hand_over_walk_log(job);
    }
    pipeline.drain();
    job.pipeline = nullptr;
  }
  // A status query that fails drops what was found so far.
  status = status < 0 ? EXIT_INTERNAL : status | job.finished_status;
  if (job.interrupted) {
    if (!job.interruption_reported) DIAG(LOG_FATAL, "Interrupted");
    job.interruption_reported = true;
    job_publish_pending(job);
  }
  return status;
}

}  // namespace velmarch
