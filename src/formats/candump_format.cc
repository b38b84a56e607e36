#include "formats/candump_format.h"

#include <cstring>
#include <new>

#include "diag/log.h"
#include "formats/format_text.h"

namespace velmarch {

namespace {

// "(" 20 digits "." 6 digits ") can0 " 8 digits "#" 16 digits, and the line feed.
constexpr int64_t LINE_ROOM = 80;

}  // namespace

//  (1729163153.135000) can0 18FF1234#010203
//  (1729163154.635000) can0 7FF#R3
void candump_append_line(SmallString& line, const CanRecord& record) {
  char* text = line.reserve(line.size() + LINE_ROOM);
  if (text == nullptr) return;
  char* out = text + line.size();
  int64_t milliseconds = whole_milliseconds(record.timestamp);
  *out++ = '(';
  out = put_zero_padded(out, static_cast<uint64_t>(milliseconds / 1000), 10);
  *out++ = '.';
  out = put_zero_padded(out, static_cast<uint64_t>(milliseconds % 1000) * 1000, 6);
  constexpr StrView ON_CAN0 = ") can0 ";
  std::memcpy(out, ON_CAN0.data(), ON_CAN0.size());
  out += ON_CAN0.size();
  out = put_hex(out, socketcan_id(record), record.extended == 1 ? 8 : 3);
  *out++ = '#';
  if (record.rtr != 0) {
    *out++ = 'R';
    // can-utils adds the length a remote frame asks for, when it has one.
    if (remote_length(record) > 0) *out++ = HEX_UPPER[remote_length(record)];
  } else {
    out = put_hex_bytes(out, record.data.data(), data_count(record), '\0');
  }
  *out++ = '\n';
  line.extend(out - (text + line.size()));
}

std::unique_ptr<TraceSink> candump_format_create() {
  std::unique_ptr<CandumpFormat> format(new (std::nothrow) CandumpFormat);
  if (!format || format->line_.reserve(LINE_ROOM) == nullptr) return nullptr;
  return format;
}

std::unique_ptr<TraceSink> CandumpFormat::another() const { return candump_format_create(); }

bool CandumpFormat::new_file(const TraceFileInfo& /*info*/, ByteStream& out,
                             bool /*continuation*/) {
  out_ = &out;
  frames_ = 0;
  failed_ = false;
  return true;
}

bool CandumpFormat::frame(const CanRecord& record) {
  if (!can_record_is_frame(record)) return true;
  line_.clear();
  candump_append_line(line_, record);
  Status written =
      out_ == nullptr || line_.empty() ? Status::failure() : write_whole(*out_, line_);
  if (!written.ok()) {
    DIAG_FAILURE(LOG_ERROR, written.error(), "Could not write CAN data");
    failed_ = true;
    return false;
  }
  ++frames_;
  return true;
}

int64_t CandumpFormat::end_file() {
  out_ = nullptr;
  return failed_ ? -1 : frames_;
}

}  // namespace velmarch
