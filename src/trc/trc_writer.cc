#include "trc/trc_writer.h"

#include <new>

#include "diag/log.h"
#include "trc/trc_format.h"

namespace velmarch {

// The longest line seen so far keeps its room: after the first file, lines allocate nothing.
constexpr int64_t LINE_CAPACITY = 256;

TrcWriter::TrcWriter(const TrcVersion& version) : version_(version) {
  line_.reserve(LINE_CAPACITY);
}

std::unique_ptr<TrcWriter> trc_writer_create(int32_t version) {
  const TrcVersion* description = trc_version(version);
  if (description == nullptr) return nullptr;
  std::unique_ptr<TrcWriter> writer(new (std::nothrow) TrcWriter(*description));
  if (!writer || writer->line_.capacity() < LINE_CAPACITY) return nullptr;
  return writer;
}

std::unique_ptr<TraceSink> TrcWriter::another() const {
  std::unique_ptr<TrcWriter> writer(new (std::nothrow) TrcWriter(version_));
  if (!writer || writer->line_.capacity() < LINE_CAPACITY) return nullptr;
  return writer;
}

Status TrcWriter::write_line() {
  int64_t length = line_.size();
  IoResult put = byte_stream_write(*out_, line_.data(), static_cast<uint64_t>(length));
  if (!put.ok()) return put.status();
  return put.value() == length ? Status() : Status::failure();
}

bool TrcWriter::new_file(const TraceFileInfo& /*info*/, ByteStream& out, bool /*continuation*/) {
  // Every input gets an output of its own, also when it continues the previous split file.
  out_ = &out;
  next_number_ = 1;
  header_written_ = false;
  write_failed_ = false;
  return true;
}

bool TrcWriter::frame(const CanRecord& record) {
  if (!can_record_is_frame(record)) return true;
  if (!header_written_) {
    start_time_ = record.timestamp;
    line_.clear();
    trc_append_header(line_, version_, start_time_);
    Status written = write_line();
    if (!written.ok()) {
      DIAG_FAILURE(LOG_ERROR, written.error(), "Could not write CAN header");
      write_failed_ = true;
      return false;
    }
    header_written_ = true;
  }
  // A skipped frame still starts the file above: its time is the origin of the offsets.
  if (version_.skips_fd_frames && record.fd == 1) return true;
  line_.clear();
  version_.append_record(line_, next_number_++, (record.timestamp - start_time_) * 1000, record);
  Status written = write_line();
  if (!written.ok()) {
    if (version_.write_error != nullptr) {
      DIAG_FAILURE(LOG_ERROR, written.error(), "%s", version_.write_error);
    } else {
      // A version without a message of its own still tells why (a full disk, say).
      log_reason(LOG_ERROR, written.error());
    }
    write_failed_ = true;
    return false;
  }
  return true;
}

int64_t TrcWriter::end_file() {
  out_ = nullptr;
  if (write_failed_) return -1;
  return header_written_ ? next_number_ - 1 : 0;
}

}  // namespace velmarch
