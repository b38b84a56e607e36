#include <algorithm>
#include <cinttypes>
#include <type_traits>

#include "base/exit_status.h"
#include "convert/conversion_job.h"
#include "convert/record_prefetch.h"
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
bool buffer_input(ConversionJob& job, std::unique_ptr<ByteStream>& stream,
                  const PathStatus& opened) {
  int64_t size = job.flags->buffer_size;
  // The size the identity gave saves asking the file again.
  int64_t whole =
      size >= 0                 ? -1
      : is_regular_file(opened) ? opened.size
                                : byte_stream_size(stream.get()).value_or(-1);
  if (size < 0) size = std::min(whole, FILE_READ_BLOCK);
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
void tell_progress(ConversionJob& job, FileTask& task, int64_t frames, int64_t position) {
  RunProgress* progress = job.progress;
  progress->frames.fetch_add(frames - task.frames, std::memory_order_relaxed);
  task.frames = frames;
  if (position > task.bytes_told) {
    progress->bytes_read.fetch_add(position - task.bytes_told, std::memory_order_relaxed);
    task.bytes_told = position;
  }
}

// Feeds the records to the sink until either ends; false when the sink refused one, the input
// could not be read whole or the run was interrupted, none of which may pass for the end of the
// file.
bool feed_frames(ConversionJob& job, FileTask& task) {
  TextLogReader& reader = *task.reader;
  TraceFileInfo& info = task.info;
  StrView input_path = task.input_path.view();
  text_log_rewind(reader);
  // A large file is read on a thread of its own, ahead of this one, when a processor is left
  // over: fewer files than jobs are being converted.
  std::unique_ptr<RecordPrefetch> ahead;
  if (task.opened.size >= PREFETCH_SIZE && job.converting.load() < job.flags->jobs) {
    ahead = std::make_unique<RecordPrefetch>(reader);
  }
  // Told now and then: a counter that every thread touches at every frame costs the run.
  constexpr int64_t PROGRESS_FRAMES = 8192;
  int64_t frames = 0;
  auto told = [&] {
    if (job.progress == nullptr) return;
    tell_progress(job, task, frames,
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
    if (job.interruption() != 0) {
      task.interrupted = true;
      info.input_cut_short = true;
      info.interrupted = true;
      return false;
    }
    if (!task.sink->frame(*record)) return false;
    if (++frames % PROGRESS_FRAMES == 0) told();
  }
  told();
  task.frames = frames;
  if (ahead ? ahead->failed() : text_log_failed(reader)) {
    DIAG(LOG_ERROR, "Could not read input file %.*s", STR_VIEW_ARG(input_path));
    info.input_cut_short = true;
    return false;
  }
  return true;
}

// Counts the file as done for the run's progress, with the bytes of it not yet told, and says
// what became of its lines.
void count_finished(ConversionJob& job, const FileTask& task, uint8_t result) {
  if (task.convert && result == EXIT_OK) {
    DIAG(LOG_DEBUG, "Read %.*s: %" PRId64 " record%s, %" PRId64
         " line%s skipped for timestamps that ran backwards, %" PRId64 " rollover%s",
         STR_VIEW_ARG(task.input_path.view()), task.frames, task.frames == 1 ? "" : "s",
         task.skipped_lines, task.skipped_lines == 1 ? "" : "s", task.rollovers,
         task.rollovers == 1 ? "" : "s");
  }
  RunProgress* progress = job.progress;
  if (progress == nullptr) return;
  // The file the run stopped in was not done; the summary counts what was.
  if (task.interrupted) {
    progress->frames.fetch_sub(task.frames, std::memory_order_relaxed);
    return;
  }
  std::atomic<int64_t>& count = result != EXIT_OK ? progress->files_failed
                                : task.convert     ? progress->files_converted
                                                   : progress->files_skipped;
  count.fetch_add(1, std::memory_order_relaxed);
  if (task.opened.size > task.bytes_told) {
    progress->bytes_read.fetch_add(task.opened.size - task.bytes_told, std::memory_order_relaxed);
  }
}

}  // namespace

bool job_interrupted(ConversionJob& job) {
  if (!job.interrupted && job.interruption() != 0) job.interrupted = true;
  return job.interrupted;
}

void file_open(ConversionJob& job, FileTask& task) {
  TraceFileInfo& info = task.info;
  StrView input_path = task.input_path.view();
  info.input_path = task.input_path;
  info.output_path = task.output_path;
  info.durable = job.flags->delete_converted;
  task.failed = true;  // until the header is read

  Result<std::unique_ptr<ByteStream>> opened =
      folder_root_open(job.input_root, input_path, OPEN_READ | OPEN_SHARED);
  if (!opened.ok()) {
    DIAG_FAILURE(LOG_ERROR, opened.error(), "Could not open input file %.*s",
                 STR_VIEW_ARG(input_path));
    return;
  }
  task.stream = std::move(opened).value();
  // What the input is now, so that only this very file is ever deleted. A file whose identity
  // cannot be read counts as changed.
  if (task.was_listed && !info.durable) {
    task.opened.size = task.listed.size;
    task.opened.permissions = task.listed.permissions;
    task.opened.kind = task.listed.kind;
  } else {
    task.opened = task.stream->identity().value();
  }
  info.permissions = task.opened.permissions;
  if (!buffer_input(job, task.stream, task.opened)) {
    task.stream.reset();  // closed quietly: the failure was told
    return;
  }
  task.reader = text_log_open(task.stream.get());
  if (!task.reader) {
    DIAG(LOG_ERROR, "Could not open log");
    return;
  }
  task.reader->name = input_path;
  const LogHeader& header = task.reader->header;
  small_string_printf_assign(info.logger_id, "%s",
                             header.logger_id[0] != '\0' ? header.logger_id : "LOGGERID");
  info.header_time = header.header_time;
  info.session_no = static_cast<uint32_t>(header.session_no);
  info.split_no = static_cast<uint32_t>(header.split_no);
  task.failed = false;
}

void file_decide(ConversionJob& job, FileTask& task) {
  // Files found before the walk saw the run stop may have been opened ahead: they never happened.
  if (job.interrupted) {
    task.abandoned = true;
    return;
  }
  if (task.failed) return;
  TraceFileInfo& info = task.info;
  if (info.logger_id.empty() || info.session_no == 0 || info.split_no == 0) {
    DIAG(LOG_ERROR, "Could not parse file header");
    task.failed = true;
    return;
  }
  Identity identity = compare_with_previous(job.previous_file, info);
  if (identity.repeated) {
    DIAG(LOG_WARN, "Repeated input file (%s, %08u, %08u)", info.logger_id.c_str(),
         info.session_no, info.split_no);
    // A repeat has the identity of the file it repeats: that one stays the file compared with.
    DIAG(LOG_INFO, "Skipped %s: it repeats %s", info.input_path.c_str(),
         job.previous_file.input_path.c_str());
  } else {
    job.previous_file = info;
  }
  task.convert = !identity.repeated;
  task.continuation = identity.continuation;
}

void file_convert(ConversionJob& job, FileTask& task) {
  if (!task.convert) return;
  ++job.converting;
  bool ok = false;
  if (task.output_folder_error != 0) {
    // The sink would only fail to create its file, for a reason that hides this one.
    StrView folder = path_directory_part(task.output_path.view());
    if (!folder.empty() && folder.back() == '/') folder.remove_suffix(1);
    DIAG(LOG_ERROR, "Could not create output folder %.*s", STR_VIEW_ARG(folder));
    log_reason(LOG_ERROR, task.output_folder_error);
  } else {
    ok = output_open(job, task);
  }
  if (!ok) {
    if (task.output_folder_error == 0) DIAG(LOG_ERROR, "Error on new file");
  } else if (!feed_frames(job, task)) {
    ok = false;
  }
  --job.converting;
  task.ended = output_end(task);
  task.failed = !ok;
  if (task.reader) {
    task.skipped_lines = task.reader->skipped_lines;
    task.rollovers = task.reader->rollovers;
  }
  // The input is closed here, on the converting thread; only a failure is told, in turn.
  task.reader.reset();
  task.closed = true;
  Status closed = byte_stream_close(task.stream);
  task.close_failed = !closed.ok();
  task.close_error = closed.error();
}

uint8_t file_finish(ConversionJob& job, FileTask& task) {
  // Its turn: everything before it has been said, so what it kept and what it says now goes out.
  LogCaptureScope direct(nullptr);
  StrView input_path = task.input_path.view();
  if (task.interrupted) job.interrupted = true;
  // A file after the one the run stopped in, or never begun, leaves nothing behind.
  bool after_stop = task.abandoned || job.interruption_reported;
  if (after_stop) {
    task.log.clear();
    task.info.interrupted = true;
  } else {
    task.log.replay();
  }
  if (task.convert) {
    bool published = output_publish(job, task);
    if ((!task.ended || !published) && !after_stop) {
      DIAG(LOG_ERROR, "Error during end file callback");
    }
    if (!task.ended || !published) task.failed = true;
  }
  task.reader.reset();

  uint8_t result = task.failed ? EXIT_FILE_FAILED : EXIT_OK;
  // Only a converted file's input is closed with care: the others were only looked at.
  if (!task.closed) (void)byte_stream_close(task.stream);
  if (after_stop) {
    // Converted ahead of a stop it came after: none of its frames are in a trace.
    if (job.progress != nullptr) {
      job.progress->frames.fetch_sub(task.frames, std::memory_order_relaxed);
    }
    return EXIT_FILE_FAILED;
  }
  if (task.close_failed) {
    DIAG(LOG_ERROR, "Could not close input file after conversion: %.*s", STR_VIEW_ARG(input_path));
    log_reason(LOG_ERROR, task.close_error);
    result = EXIT_FILE_FAILED;
  } else if (task.interrupted) {
    DIAG(LOG_FATAL, "Interrupted: %.*s not converted", STR_VIEW_ARG(input_path));
    job.interruption_reported = true;
  }
  if (job.flags->delete_converted) {
    // A durable file's staged trace now waits for the commit, whatever becomes of the file.
    if (task.convert) job_queue_input(job, task, result == EXIT_OK);
    const char* kept = nullptr;
    if (task.interrupted) {
      kept = "the run was interrupted";
    } else if (result != EXIT_OK) {
      kept = "its conversion failed";
    } else if (!task.convert) {
      kept = "it repeats the file before";
    }
    if (kept != nullptr) DIAG(LOG_DEBUG, "Kept %.*s: %s", STR_VIEW_ARG(input_path), kept);
  }
  count_finished(job, task, result);
  return result;
}

uint8_t job_convert_file(ConversionJob& job, StrView input_path, StrView output_path,
                         bool reached_through_link) {
  FileTask task(input_path, output_path, reached_through_link);
  task.sink = job.sink;
  file_open(job, task);
  file_decide(job, task);
  file_convert(job, task);
  return file_finish(job, task);
}

}  // namespace velmarch
