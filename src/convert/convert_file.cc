#include <type_traits>

#include "base/exit_status.h"
#include "convert/conversion_job.h"
#include "diag/log.h"
#include "textlog/buffered_stream.h"
#include "textlog/text_log_reader.h"

namespace velmarch {

namespace {

// Wraps the input in a read buffer of the size the flags ask for: a negative size holds the
// whole file, 0 reads unbuffered. False when the buffer cannot be had.
bool buffer_input(ConversionJob& job, std::unique_ptr<ByteStream>& stream) {
  int64_t size = job.flags->buffer_size;
  if (size < 0) size = byte_stream_size(stream.get());
  if (size <= 0) return true;
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

// Feeds the records to the sink until either ends; false when the sink refused one, the input
// could not be read whole or the run was interrupted, none of which may pass for the end of the
// file.
bool feed_frames(ConversionJob& job, TextLogReader& reader, StrView input_path,
                 TraceFileInfo& info) {
  text_log_rewind(reader);
  CanRecord record;
  while (text_log_next(reader, record)) {
    if (job_interrupted(job)) {
      info.input_cut_short = true;
      return false;
    }
    if (!job.sink->frame(record)) return false;
  }
  if (text_log_failed(reader)) {
    DIAG(LOG_ERROR, "Could not read input file %.*s", STR_VIEW_ARG(input_path));
    info.input_cut_short = true;
    return false;
  }
  return true;
}

// With --delete-converted: a converted input whose trace waits for the commit goes after it,
// unless it was reached through a link; every other input stays.
void queue_input(ConversionJob& job, StrView input_path, const FileIdentity& opened,
                 bool trace_waiting, bool converted, bool reached_through_link) {
  if (converted && !trace_waiting) {
    DIAG(LOG_WARN, "No frames converted from %.*s, input kept", STR_VIEW_ARG(input_path));
  }
  if (!trace_waiting) return;
  // As rm -r: nothing outside the tree the user named goes.
  if (converted && reached_through_link) {
    DIAG(LOG_WARN, "Not removing %.*s: reached through a link", STR_VIEW_ARG(input_path));
  }
  job.pending.push_back(PendingInput{SmallString(input_path), opened,
                                     converted && !reached_through_link, !converted});
  job.pending_bytes += opened.size;
}

}  // namespace

bool job_interrupted(ConversionJob& job) {
  if (!job.interrupted && job.interruption() != 0) job.interrupted = true;
  return job.interrupted;
}

int job_commit(ConversionJob& job) {
  if (job.pending.empty()) return EXIT_OK;
  std::vector<bool> published = job.sink->commit();
  int status = EXIT_OK;
  for (size_t i = 0; i < job.pending.size(); ++i) {
    const PendingInput& input = job.pending[i];
    StrView path = input.input_path.view();
    if (i >= published.size() || !published[i]) {
      if (!input.failed) DIAG(LOG_ERROR, "Error during conversion of %.*s", STR_VIEW_ARG(path));
      status |= EXIT_FILE_FAILED;
      continue;
    }
    if (!input.remove || job_interrupted(job)) continue;
    // A log still being uploaded, or replaced meanwhile, holds data its trace has not.
    FileIdentity now;
    if (folder_root_identify(job.input_root, path, now) != 0 ||
        !same_file_state(input.identity, now)) {
      DIAG(LOG_ERROR, "Input changed during conversion, not removed: %.*s", STR_VIEW_ARG(path));
      DIAG(LOG_ERROR, "Error during conversion of %.*s", STR_VIEW_ARG(path));
      status |= EXIT_FILE_FAILED;
      continue;
    }
    if (!folder_root_remove(job.input_root, path)) {
      DIAG(LOG_ERROR, "Could not remove input file after conversion: %.*s", STR_VIEW_ARG(path));
    }
  }
  job.pending.clear();
  job.pending_bytes = 0;
  return status;
}

int job_commit_when_due(ConversionJob& job) {
  // One flush for many small files, but not so many that a power cut loses much work.
  constexpr size_t COMMIT_FILES = 1024;
  constexpr int64_t COMMIT_BYTES = 256 << 20;
  if (job.pending.size() < COMMIT_FILES && job.pending_bytes < COMMIT_BYTES) return 0;
  return job_commit(job);
}

uint8_t job_convert_file(ConversionJob& job, StrView input_path, StrView output_path,
                         bool reached_through_link) {
  TraceFileInfo info;
  info.input_path.append(input_path);
  info.output_path.append(output_path);
  info.durable = job.flags->delete_converted;

  std::unique_ptr<ByteStream> stream = folder_root_open(job.input_root, input_path, OPEN_READ | OPEN_SHARED);
  if (!stream) {
    DIAG(LOG_ERROR, "Could not open input file %.*s", STR_VIEW_ARG(input_path));
    return EXIT_FILE_FAILED;
  }
  // What the input is now, so that only this very file is ever deleted. A file whose identity
  // cannot be read counts as changed.
  FileIdentity opened;
  if (!stream->identity(opened)) opened = FileIdentity{};
  info.permissions = opened.permissions;
  if (!buffer_input(job, stream)) return EXIT_FILE_FAILED;

  job.current_reader = text_log_open(stream.get());
  if (!job.current_reader) {
    DIAG(LOG_ERROR, "Could not open log");
    return EXIT_FILE_FAILED;
  }
  TextLogReader& reader = *job.current_reader;
  const LogHeader& header = reader.header;
  small_string_printf_assign(info.logger_id, "%s",
                             header.logger_id[0] != '\0' ? header.logger_id : "LOGGERID");
  info.header_time = header.header_time;
  info.session_no = static_cast<uint32_t>(header.session_no);
  info.split_no = static_cast<uint32_t>(header.split_no);

  if (info.logger_id.empty() || info.session_no == 0 || info.split_no == 0) {
    DIAG(LOG_ERROR, "Could not parse file header");
    text_log_close(job.current_reader);
    return EXIT_FILE_FAILED;
  }

  Identity identity = compare_with_previous(job.previous_file, info);
  if (identity.repeated) {
    DIAG(LOG_WARN, "Repeated input file (%s, %08u, %08u)", info.logger_id.c_str(),
         info.session_no, info.split_no);
  }
  job.previous_file = info;
  if (identity.repeated) {
    text_log_close(job.current_reader);
    return EXIT_OK;
  }

  bool ok = job.sink->new_file(info, identity.continuation);
  if (!ok) {
    DIAG(LOG_ERROR, "Error on new file");
  } else if (!feed_frames(job, reader, input_path, info)) {
    ok = false;
  }
  bool ended = job.sink->end_file(info);
  if (!ended) {
    DIAG(LOG_ERROR, "Error during end file callback");
    ok = false;
  }
  // A durable file's trace now waits for the commit, whatever becomes of the file.
  bool waiting = info.durable && ended && job.sink->kept();
  text_log_close(job.current_reader);

  uint8_t result = ok ? EXIT_OK : EXIT_FILE_FAILED;
  if (byte_stream_close(stream) != 0) {
    DIAG(LOG_ERROR, "Could not close input file after conversion: %.*s", STR_VIEW_ARG(input_path));
    result = EXIT_FILE_FAILED;
  } else if (job.interrupted && info.input_cut_short) {
    DIAG(LOG_FATAL, "Interrupted: %.*s not converted", STR_VIEW_ARG(input_path));
    job.interruption_reported = true;
  }
  if (job.flags->delete_converted) {
    queue_input(job, input_path, opened, waiting, result == EXIT_OK, reached_through_link);
  }
  return result;
}

}  // namespace velmarch
