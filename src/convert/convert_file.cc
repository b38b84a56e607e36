#include <algorithm>
#include <cinttypes>
#include <type_traits>

#include "base/exit_status.h"
#include "convert/conversion_job.h"
#include "convert/record_prefetch.h"
#include "convert/split_chain.h"
#include "convert/trace_output.h"
#include "diag/log.h"
#include "fs/path_value.h"
#include "stream/buffered_stream.h"
#include "textlog/text_log_reader.h"

namespace velmarch {

namespace {

// Files smaller than this are read on the thread that converts them: a thread of their own
// would cost more than it saves.
constexpr int64_t PREFETCH_SIZE = 1 << 20;

// Wraps the input in a read buffer of the size the flags ask for: a negative size takes the
// whole file, through a buffer of at most FILE_READ_BLOCK bytes, 0 reads unbuffered. False when the
// buffer cannot be had.
bool buffer_input(const ConversionJob& job, std::unique_ptr<ByteStream>& stream,
                  const PathStatus& opened) {
  int64_t size = job.flags().buffer_size;
  // The size the identity gave saves asking the file again.
  int64_t whole =
      size >= 0                 ? -1
      : is_regular_file(opened) ? opened.size
                                : byte_stream_size(stream.get()).value_or(-1);
  // A pipe's size is unknown: it is read through the usual buffer.
  if (size < 0) size = whole < 0 ? FILE_READ_BLOCK : std::min(whole, FILE_READ_BLOCK);
  if (size <= 0) return true;
  // A buffer that holds the whole file, or takes it in large blocks, reads past the file's own.
  constexpr int64_t LARGE_READ = 4096;
  if (size >= LARGE_READ || (whole >= 0 && size >= whole)) stream->expect_large_reads();
  std::unique_ptr<ByteStream> buffered = buffered_stream_open(stream, static_cast<uint64_t>(size));
  if (!buffered) {
    DIAG(LOG_ERROR, "Could not allocate buffer of size %zd",
         static_cast<std::make_signed_t<size_t>>(size));
    return false;
  }
  stream = std::move(buffered);
  return true;
}

// Same logger and session as the previous file, and the split number it had (a repeat) or the
// next one (a continuation).
struct Identity {
  bool repeated = false;
  bool continuation = false;
};

Identity compare_with_previous(const TraceFileInfo& previous, const TraceFileInfo& info) {
  Identity identity;
  if (previous.logger_id.empty()) return identity;
  bool same = previous.logger_id == info.logger_id && previous.session_no == info.session_no;
  identity.repeated = same && info.split_no == previous.split_no;
  identity.continuation =
      same && (info.split_no == previous.split_no || info.split_no == previous.split_no + 1);
  return identity;
}

// Tells the run's progress of the frames and bytes since it was last told.
void tell_progress(RunProgress& progress, FileTask& task, int64_t frames, int64_t position) {
  progress.frames.fetch_add(frames - task.frames, std::memory_order_relaxed);
  task.frames = frames;
  if (position > task.bytes_told) {
    progress.bytes_read.fetch_add(position - task.bytes_told, std::memory_order_relaxed);
    task.bytes_told = position;
  }
}

// How the frames of a file stopped going to its sink.
enum class FeedEnd {
  all_fed,      // the input ended
  refused,      // the output could not be made, or refused a frame: that was said
  unreadable,   // the input could not be read to its end
  interrupted,  // the run is to stop
};

// Feeds the records to the sink until either ends.
FeedEnd feed_frames(ConversionJob& job, FileTask& task) {
  TextLogReader& reader = *task.reader;
  text_log_rewind(reader);
  // A large file is read on a thread of its own, ahead of this one, when a processor is left
  // over: fewer files than jobs are being converted. Not a split of a merged recording: on
  // splits of a few megabytes that cost more than it saved (doc/PERFORMANCE.md, "-m"). A pipe
  // may be of any size.
  std::unique_ptr<RecordPrefetch> ahead;
  bool large = task.opened.size >= PREFETCH_SIZE || task.opened.kind != PATH_FILE;
  if (large && job.converting().load() < job.flags().jobs && !task.chain) {
    ahead = std::make_unique<RecordPrefetch>(reader);
  }
  // Told now and then: a counter that every thread touches at every frame costs the run.
  constexpr int64_t PROGRESS_FRAMES = 8192;
  RunProgress* progress = job.setup().progress;
  int64_t frames = 0;
  auto told = [&] {
    if (progress == nullptr) return;
    tell_progress(*progress, task, frames,
                  ahead ? ahead->position() : byte_stream_tell(*task.stream).value_or(-1));
  };
  CanRecord own_record;
  for (;;) {
    const CanRecord* record = &own_record;
    if (ahead) {
      record = ahead->next(task.log);
    } else if (!text_log_next(reader, own_record)) {
      record = nullptr;
    }
    if (record == nullptr) break;
    // The run's interruption, read on whatever thread converts the file.
    if (job.interruption_requested()) return FeedEnd::interrupted;
    if (!task.sink->frame(*record)) return FeedEnd::refused;
    if (++frames % PROGRESS_FRAMES == 0) {
      told();
      // Standard output's reader went away: what is written meanwhile goes nowhere.
      if (task.output_unread) break;
    }
  }
  told();
  task.frames = frames;
  if (ahead ? ahead->failed() : text_log_failed(reader)) {
    DIAG(LOG_ERROR, "Could not read input file %.*s", STR_VIEW_ARG(task.info.input_path.view()));
    return FeedEnd::unreadable;
  }
  return FeedEnd::all_fed;
}

// Makes the output of a file, or of the trace it starts; says why when it could not.
bool open_output(ConversionJob& job, FileTask& task, FileTask& output) {
  if (task.output_folder_error != 0) {
    // The sink would only fail to create its file, for a reason that hides this one.
    StrView folder = path_directory_part(task.info.output_path.view());
    if (!folder.empty() && folder.back() == '/') folder.remove_suffix(1);
    DIAG(LOG_ERROR, "Could not create output folder %.*s", STR_VIEW_ARG(folder));
    log_reason(LOG_ERROR, task.output_folder_error);
    return false;
  }
  if (!output_open(job, output)) {
    DIAG(LOG_ERROR, "Error on new file");
    return false;
  }
  return true;
}

// A file of its own trace: makes the output, feeds it the frames and ends it.
FeedEnd convert_alone(ConversionJob& job, FileTask& task) {
  ++job.converting();
  FeedEnd end = open_output(job, task, task) ? feed_frames(job, task) : FeedEnd::refused;
  --job.converting();
  task.output_ended = output_end(task, end == FeedEnd::all_fed || end == FeedEnd::refused);
  return end;
}

// A split of a recording, once the splits before it were fed: appends its frames to their
// trace, or starts one. A split not fed whole ends its trace, which is never published.
FeedEnd convert_split(ConversionJob& job, FileTask& task) {
  SplitChain& chain = *task.chain;
  task.trace = chain.trace_to_append_to();
  // A split parked behind the one the run stopped in starts nothing, and ends what it joins.
  FeedEnd end = job.interruption_requested() ? FeedEnd::interrupted : FeedEnd::all_fed;
  ++job.converting();
  if (end == FeedEnd::all_fed && !task.trace) {
    task.trace = chain.start_trace(task);
    if (!open_output(job, task, task.trace->output)) end = FeedEnd::refused;
  } else if (task.trace) {
    // Frames that run back across the boundary are dropped as within one file.
    task.reader->last_time = task.trace->last_time;
  }
  if (end == FeedEnd::all_fed) end = feed_frames(job, task);
  --job.converting();
  if (!task.trace) return end;
  task.trace->last_time = task.reader->last_time;
  if (end != FeedEnd::all_fed) {
    task.trace->broken = true;
    output_end(task.trace->output, false);
  }
  return end;
}

// After its frames went to its trace, or failed to: the file's state, and its input closed here,
// on the converting thread; only a failure is told, in turn.
void end_conversion(FileTask& task, FeedEnd end) {
  task.move_to(end == FeedEnd::all_fed      ? FileState::converted
               : end == FeedEnd::interrupted ? FileState::interrupted
                                             : FileState::failed);
  if (task.reader) {
    task.skipped_lines = task.reader->skipped_lines;
    task.rollovers = task.reader->rollovers;
    task.implausible_rollovers = task.reader->implausible_rollovers;
  }
  task.reader.reset();
  Status closed = byte_stream_close(task.stream);
  if (!closed.ok()) task.close_error = closed.error();
}

// Counts the file as done for the run's progress, with the bytes of it not yet told, and says
// what became of its lines.
void count_finished(const ConversionJob& job, const FileTask& task, ExitStatus result) {
  if (task.was_accepted() && result.ok()) {
    DIAG(LOG_DEBUG, "Read %.*s: %" PRId64 " record%s, %" PRId64
         " line%s skipped for timestamps that ran backwards, %" PRId64 " rollover%s",
         STR_VIEW_ARG(task.info.input_path.view()), task.frames, task.frames == 1 ? "" : "s",
         task.skipped_lines, task.skipped_lines == 1 ? "" : "s", task.rollovers,
         task.rollovers == 1 ? "" : "s");
  }
  RunProgress* progress = job.setup().progress;
  if (progress == nullptr) return;
  // The file the run stopped in was not done; the summary counts what was.
  if (task.state == FileState::interrupted) {
    progress->frames.fetch_sub(task.frames, std::memory_order_relaxed);
    return;
  }
  std::atomic<int64_t>& count = !result.ok()            ? progress->files_failed
                                : task.was_accepted() ? progress->files_converted
                                                      : progress->files_skipped;
  count.fetch_add(1, std::memory_order_relaxed);
  if (task.output_kept()) progress->traces.fetch_add(1, std::memory_order_relaxed);
  if (task.opened.size > task.bytes_told) {
    progress->bytes_read.fetch_add(task.opened.size - task.bytes_told, std::memory_order_relaxed);
  }
}

// With -d: a converted file's staged trace now waits for the commit, whatever becomes of the
// file; the debug line says why an input stays.
void queue_for_deletion(ConversionJob& job, FileTask& task, ExitStatus result) {
  // A split waits with its trace, which is queued once the recording ends.
  if (task.was_accepted() && !task.chain) {
    job.durable_commit().queue(job, task, {pending_input_of(task, !result.ok())});
  }
  const char* kept = nullptr;
  if (task.state == FileState::interrupted) {
    kept = "the run was interrupted";
  } else if (!result.ok()) {
    kept = "its conversion failed";
  } else if (task.state == FileState::repeat) {
    kept = "it repeats the file before";
  }
  if (kept != nullptr) {
    DIAG(LOG_DEBUG, "Kept %.*s: %s", STR_VIEW_ARG(task.info.input_path.view()), kept);
  }
}

// Buffers the open input and reads its header: opened, or unreadable.
void read_header(const ConversionJob& job, FileTask& task) {
  StrView input_path = task.info.input_path.view();
  TraceFileInfo& info = task.info;
  if (!buffer_input(job, task.stream, task.opened)) {
    task.stream.reset();  // closed quietly: the failure was told
    task.move_to(FileState::unreadable);
    return;
  }
  task.reader = text_log_open(task.stream.get());
  if (!task.reader) {
    DIAG(LOG_ERROR, "Could not open log");
    task.move_to(FileState::unreadable);
    return;
  }
  task.reader->name = input_path;
  const LogHeader& header = task.reader->header;
  small_string_printf_assign(info.logger_id, "%s",
                             header.logger_id[0] != '\0' ? header.logger_id : "LOGGERID");
  info.header_time = header.header_time;
  info.session_no = static_cast<uint32_t>(header.session_no);
  info.split_no = static_cast<uint32_t>(header.split_no);
  task.move_to(FileState::opened);
}

// Standard output as a format writes to it: counts what went out, and takes a reader that
// stopped reading (a broken pipe, as with "| head") for the end of the conversion, which then
// ends quietly, as cat does.
class StandardOutput final : public ByteStream {
 public:
  StandardOutput(ByteStream& out, FileTask& task) : out_(out), task_(task) {}

  IoResult write(const void* source, uint64_t count) override {
    if (task_.output_unread) return static_cast<int64_t>(count);
    IoResult put = out_.write(source, count);
    if (put.ok()) {
      written_ += put.value();
    } else if (put.error() == EPIPE) {
      task_.output_unread = true;
      return static_cast<int64_t>(count);
    }
    return put;
  }
  IoResult tell() override { return out_.tell(); }
  IoResult seek(int64_t offset, int origin) override { return out_.seek(offset, origin); }

  int64_t written() const { return written_; }

 private:
  ByteStream& out_;
  FileTask& task_;
  int64_t written_ = 0;
};

}  // namespace

void file_open(ConversionJob& job, FileTask& task) {
  StrView input_path = task.info.input_path.view();
  task.durable = job.flags().delete_converted;

  Result<std::unique_ptr<ByteStream>> opened =
      folder_root_open(job.setup().input_root, input_path, OPEN_READ | OPEN_SHARED);
  if (!opened.ok()) {
    DIAG_FAILURE(LOG_ERROR, opened.error(), "Could not open input file %.*s",
                 STR_VIEW_ARG(input_path));
    task.move_to(FileState::unreadable);
    return;
  }
  task.stream = std::move(opened).value();
  // What the input is now, so that only this very file is ever deleted. A file whose identity
  // cannot be read counts as changed.
  if (task.listed && !task.durable) {
    task.opened.size = task.listed->size;
    task.opened.permissions = task.listed->permissions;
    task.opened.kind = task.listed->kind;
  } else {
    task.opened = task.stream->identity().value();
  }
  read_header(job, task);
}

void file_decide(ConversionJob& job, FileTask& task) {
  // Files found before the walk saw the run stop may have been opened ahead: they never happened.
  if (job.stopped()) {
    task.move_to(FileState::abandoned);
    return;
  }
  if (task.state != FileState::opened) return;
  TraceFileInfo& info = task.info;
  if (info.logger_id.empty() || info.session_no == 0 || info.split_no == 0) {
    DIAG(LOG_ERROR, "Could not parse file header");
    task.move_to(FileState::rejected);
    return;
  }
  TraceFileInfo& previous = job.previous_file();
  Identity identity = compare_with_previous(previous, info);
  if (identity.repeated) {
    DIAG(LOG_WARN, "Repeated input file (%s, %08u, %08u)", info.logger_id.c_str(),
         info.session_no, info.split_no);
    // A repeat has the identity of the file it repeats: that one stays the file compared with.
    DIAG(LOG_INFO, "Skipped %s: it repeats %s", info.input_path.c_str(),
         previous.input_path.c_str());
    task.move_to(FileState::repeat);
    return;
  }
  previous = info;
  task.continuation = identity.continuation;
  task.move_to(FileState::accepted);
}

void file_convert(ConversionJob& job, FileTask& task) {
  if (task.state != FileState::accepted) return;
  if (!task.chain) {
    end_conversion(task, convert_alone(job, task));
    return;
  }
  // A split whose turn has not come waits, parked, for the thread that feeds the split before
  // it: that thread feeds it next, and no thread waits idle.
  if (!task.chain->feed_now_or_park(task)) return;
  for (FileTask* split = &task; split != nullptr;) {
    LogCaptureScope keep(&split->log);
    end_conversion(*split, convert_split(job, *split));
    split = split->chain->fed(*split);
  }
}

ExitStatus file_finish(ConversionJob& job, FileTask& task) {
  // Its turn: everything before it has been said, so what it kept and what it says now goes out.
  LogCaptureScope direct(nullptr);
  StrView input_path = task.info.input_path.view();
  bool appended = task.trace && task.state == FileState::converted;
  bool interrupted = task.state == FileState::interrupted;
  if (interrupted) job.stop();
  // A file after the one the run stopped in, or never begun, leaves nothing behind.
  bool after_stop = task.state == FileState::abandoned || job.stop_told();
  if (after_stop) {
    task.log.clear();
  } else {
    task.log.replay();
  }
  if (task.was_accepted()) {
    bool published = output_publish(job, task, after_stop || interrupted);
    if (!task.output_ended || !published) {
      if (!after_stop) DIAG(LOG_ERROR, "Error during end file callback");
      if (task.state == FileState::converted) task.move_to(FileState::failed);
    }
  }
  task.reader.reset();
  // Only a converted file's input is closed with care: the others were only looked at.
  if (!task.was_accepted()) (void)byte_stream_close(task.stream);
  if (after_stop) {
    // Converted ahead of a stop it came after: none of its frames are in a trace.
    if (job.setup().progress != nullptr) {
      job.setup().progress->frames.fetch_sub(task.frames, std::memory_order_relaxed);
    }
    return EXIT_FILE_FAILED;
  }
  if (task.close_error) {
    DIAG(LOG_ERROR, "Could not close input file after conversion: %.*s", STR_VIEW_ARG(input_path));
    log_reason(LOG_ERROR, *task.close_error);
    if (task.state == FileState::converted) task.move_to(FileState::failed);
  } else if (interrupted) {
    job.tell_stop(input_path);
  }
  ExitStatus result = task.has_failed() ? EXIT_FILE_FAILED : EXIT_OK;
  // Its frames are in its recording's trace, which takes its input along.
  if (appended) {
    // Its entry waits for the trace's end.
    if (job.setup().report != nullptr) job.setup().report->hold(task.report_entry);
    task.trace->inputs.push_back(pending_input_of(task, !result.ok()));
    task.trace->frames += task.frames;
    if (task.trace->inputs.size() > 1) {
      DIAG(LOG_DEBUG, "Appended %s to %s", task.info.input_path.c_str(),
           task.trace->output.output_file->final_path().c_str());
    }
  }
  if (task.durable) queue_for_deletion(job, task, result);
  count_finished(job, task, result);
  return result;
}

std::string report_path(const FolderRoot* root, StrView relative) {
  std::string path(root->root().view());
  if (!path.empty() && path.back() != '/' && !relative.empty()) path += '/';
  path.append(relative.data(), relative.size());
  return path;
}

void fill_report_entry(ReportEntry& entry, const ConversionJob& job, const FileTask& task,
                       std::string reason) {
  switch (task.state) {
    case FileState::converted: entry.outcome = InputOutcome::converted; break;
    case FileState::repeat: entry.outcome = InputOutcome::repeat; break;
    case FileState::interrupted: entry.outcome = InputOutcome::interrupted; break;
    default: entry.outcome = InputOutcome::failed; break;
  }
  const FileTask* output = task.trace ? &task.trace->output : &task;
  bool in_trace = task.trace ? task.state == FileState::converted : task.output_kept();
  if (in_trace) {
    SmallString path(output->info.output_path.view());
    path.append(task.sink->extension());
    entry.output = report_path(job.setup().output_root, path.view());
  }
  entry.frames = task.frames;
  entry.lines_skipped = task.skipped_lines;
  entry.rollovers = task.rollovers;
  entry.implausible_rollovers = task.implausible_rollovers;
  entry.input_bytes = task.opened.size;
  if (task.state == FileState::interrupted && reason.empty()) reason = "the run was interrupted";
  if (entry.outcome != InputOutcome::converted) entry.reason = std::move(reason);
}

namespace {

// The conversion of standard input to standard output; its lines are said as they come.
ExitStatus convert_stream(ConversionJob& job, FileTask& task, ByteStream& output) {
  read_header(job, task);
  file_decide(job, task);
  FeedEnd end = FeedEnd::refused;
  StandardOutput out(output, task);
  if (task.state == FileState::accepted) {
    ++job.converting();
    if (!task.sink->new_file(task.info, out, false)) {
      DIAG(LOG_ERROR, "Error on new file");
    } else {
      end = feed_frames(job, task);
      if (task.sink->end_file() < 0 && end == FeedEnd::all_fed) end = FeedEnd::refused;
    }
    --job.converting();
    end_conversion(task, end);
  }
  // What the format wrote may still wait in the stream's buffer.
  Status flushed = output.close();
  if (flushed.error() == EPIPE) task.output_unread = true;
  if (task.output_unread) return EXIT_OK;
  if (end == FeedEnd::interrupted) {
    job.stop();
    job.tell_stop(STANDARD_STREAM);
    return EXIT_FILE_FAILED;
  }
  if (!flushed.ok()) {
    DIAG_FAILURE(LOG_ERROR, flushed.error(), "Could not write to standard output");
    if (task.state == FileState::converted) task.move_to(FileState::failed);
  }
  if (task.close_error) {
    DIAG_FAILURE(LOG_ERROR, *task.close_error, "Could not close standard input");
  }
  if (!task.has_failed()) {
    count_finished(job, task, EXIT_OK);
    return EXIT_OK;
  }
  if (out.written() > 0) DIAG(LOG_ERROR, "Standard output is incomplete");
  log_conversion_failed(STANDARD_STREAM);
  return EXIT_FILE_FAILED;
}

}  // namespace

ExitStatus job_convert_stream(ConversionJob& job, std::unique_ptr<ByteStream> input,
                              ByteStream& output) {
  FileTask task(STANDARD_STREAM, STANDARD_STREAM, false);
  task.sink = job.setup().sink;
  task.stream = std::move(input);
  task.opened = task.stream->identity().value();
  LogErrorTap tap;
  ExitStatus result = convert_stream(job, task, output);
  RunReport* report = job.setup().report;
  if (report != nullptr) {
    ReportEntry entry;
    entry.input = STANDARD_STREAM;
    fill_report_entry(entry, job, task, tap.first_error());
    if (entry.outcome == InputOutcome::converted) entry.output = STANDARD_STREAM;
    report->release(report->add(std::move(entry)));
  }
  return result;
}

}  // namespace velmarch
