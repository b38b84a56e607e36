#include <type_traits>

#include "convert/conversion_job.h"
#include "diag/log.h"
#include "textlog/buffered_stream.h"
#include "textlog/text_log_reader.h"

namespace velmarch {

namespace {

constexpr uint8_t FILE_CONVERTED = 0;
constexpr uint8_t FILE_FAILED = 8;

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

// Feeds the records to the sink until either ends; false when the sink refused one or the
// input could not be read whole, which must not pass for the end of the file.
bool feed_frames(ConversionJob& job, TextLogReader& reader, StrView input_path,
                 TraceFileInfo& info) {
  text_log_rewind(reader);
  CanRecord record;
  while (text_log_next(reader, record)) {
    if (!job.sink->frame(record)) return false;
  }
  if (text_log_failed(reader)) {
    DIAG(LOG_ERROR, "Could not read input file %.*s", STR_VIEW_ARG(input_path));
    info.input_cut_short = true;
    return false;
  }
  return true;
}

}  // namespace

uint8_t job_convert_file(ConversionJob& job, StrView input_path, StrView output_path) {
  TraceFileInfo info;
  info.input_path.append(input_path);
  info.output_path.append(output_path);

  std::unique_ptr<ByteStream> stream = folder_root_open(job.input_root, input_path, OPEN_READ | 4);
  if (!stream) {
    DIAG(LOG_ERROR, "Could not open input file %.*s", STR_VIEW_ARG(input_path));
    return FILE_FAILED;
  }
  if (!buffer_input(job, stream)) return FILE_FAILED;

  job.current_reader = text_log_open(stream.get());
  if (!job.current_reader) {
    DIAG(LOG_ERROR, "Could not open log");
    return FILE_FAILED;
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
    return FILE_FAILED;
  }

  Identity identity = compare_with_previous(job.previous_file, info);
  if (identity.repeated) {
    DIAG(LOG_WARN, "Repeated input file (%s, %08u, %08u)", info.logger_id.c_str(),
         info.session_no, info.split_no);
  }
  job.previous_file = info;
  if (identity.repeated) {
    text_log_close(job.current_reader);
    return FILE_CONVERTED;
  }

  bool ok = job.sink->new_file(info, identity.continuation);
  if (!ok) {
    DIAG(LOG_ERROR, "Error on new file");
  } else if (!feed_frames(job, reader, input_path, info)) {
    ok = false;
  }
  if (!job.sink->end_file(info)) {
    DIAG(LOG_ERROR, "Error during end file callback");
    ok = false;
  }
  text_log_close(job.current_reader);

  if (byte_stream_close(stream) != 0) {
    DIAG(LOG_ERROR, "Could not close input file after conversion: %.*s", STR_VIEW_ARG(input_path));
    return FILE_FAILED;
  }
  if (!ok) return FILE_FAILED;
  if (job.flags->delete_converted && !folder_root_remove(job.input_root, input_path)) {
    DIAG(LOG_ERROR, "Could not remove input file after conversion: %.*s",
         STR_VIEW_ARG(input_path));
  }
  return FILE_CONVERTED;
}

}  // namespace velmarch
