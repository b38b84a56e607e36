#include "formats/asc_format.h"

#include <cstring>
#include <ctime>
#include <new>

#include "diag/log.h"
#include "formats/format_text.h"
#include "platform/platform.h"

namespace velmarch {

namespace {

// The longest frame line: a sign, 20 digits and 7 for the fraction, the id column of 15, the
// direction, the type and length, 8 data bytes.
constexpr int64_t LINE_ROOM = 112;
constexpr int64_t HEADER_ROOM = 256;

constexpr StrView END_LINE = "End TriggerBlock\n";

// Our own names: the C library's depend on the locale.
constexpr const char* DAY_NAMES[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* MONTH_NAMES[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

char* put_text(char* out, StrView text) {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

// Thu Oct 17 11:05:53.123 am 2024
char* put_date(char* out, const struct tm& fields, int millisecond) {
  out = put_text(out, DAY_NAMES[fields.tm_wday]);
  *out++ = ' ';
  out = put_text(out, MONTH_NAMES[fields.tm_mon]);
  *out++ = ' ';
  out = put_zero_padded(out, static_cast<uint64_t>(fields.tm_mday), 2);
  *out++ = ' ';
  int hour = fields.tm_hour % 12;
  out = put_zero_padded(out, static_cast<uint64_t>(hour == 0 ? 12 : hour), 2);
  *out++ = ':';
  out = put_zero_padded(out, static_cast<uint64_t>(fields.tm_min), 2);
  *out++ = ':';
  out = put_zero_padded(out, static_cast<uint64_t>(fields.tm_sec), 2);
  *out++ = '.';
  out = put_zero_padded(out, static_cast<uint64_t>(millisecond), 3);
  out = put_text(out, fields.tm_hour < 12 ? " am " : " pm ");
  return put_zero_padded(out, static_cast<uint64_t>(fields.tm_year) + 1900, 4);
}

}  // namespace

bool asc_append_header(SmallString& line, int64_t start_ms) {
  struct tm fields {};
  // The times hold the logger's wall clock as if it were UTC: its fields are the local time.
  if (!platform_time_to_utc(static_cast<time_t>(start_ms / 1000), &fields)) return false;
  char* text = line.reserve(line.size() + HEADER_ROOM);
  if (text == nullptr) return false;
  char* out = text + line.size();
  int millisecond = static_cast<int>(start_ms % 1000);
  out = put_text(out, "date ");
  out = put_date(out, fields, millisecond);
  out = put_text(out, "\nbase hex  timestamps absolute\nno internal events logged\n");
  out = put_text(out, "Begin Triggerblock ");
  out = put_date(out, fields, millisecond);
  out = put_text(out, "\n 0.000000 Start of measurement\n");
  line.extend(out - (text + line.size()));
  return true;
}

//  0.000000 1  123             Rx   d 8 11 22 33 44 55 66 77 88
//  0.012000 1  18FF1234x       Tx   d 3 01 02 03
void asc_append_line(SmallString& line, int64_t offset_ms, const CanRecord& record) {
  char* text = line.reserve(line.size() + LINE_ROOM);
  if (text == nullptr) return;
  char* out = text + line.size();
  // python-can's "{: 9.6f}": a blank in place of a plus sign, and never any other padding.
  *out++ = offset_ms < 0 ? '-' : ' ';
  uint64_t magnitude =
      offset_ms < 0 ? 0 - static_cast<uint64_t>(offset_ms) : static_cast<uint64_t>(offset_ms);
  out = put_zero_padded(out, magnitude / 1000, 1);
  *out++ = '.';
  // Whole milliseconds: the last three of the six decimals are zeros.
  out = put_zero_padded(out, magnitude % 1000, 3);
  out = put_text(out, "000");
  out = put_text(out, " 1  ");
  char* id_start = out;
  uint32_t id = record.id;
  int digits = 1;
  while (digits < 8 && (id >> (4 * digits)) != 0) ++digits;
  out = put_hex(out, id, digits);
  if (record.extended == 1) *out++ = 'x';
  while (out - id_start < 15) *out++ = ' ';
  out = put_text(out, record.tx != 0 ? " Tx   " : " Rx   ");
  if (record.rtr != 0) {
    out = put_text(out, "r ");
    *out++ = HEX_UPPER[remote_length(record)];
    *out++ = ' ';
  } else {
    int count = data_count(record);
    out = put_text(out, "d ");
    *out++ = HEX_UPPER[count];
    *out++ = ' ';
    out = put_hex_bytes(out, record.data.data(), count, ' ');
  }
  *out++ = '\n';
  line.extend(out - (text + line.size()));
}

std::unique_ptr<TraceSink> asc_format_create() {
  std::unique_ptr<AscFormat> format(new (std::nothrow) AscFormat);
  if (!format || format->line_.reserve(HEADER_ROOM) == nullptr) return nullptr;
  return format;
}

std::unique_ptr<TraceSink> AscFormat::another() const { return asc_format_create(); }

bool AscFormat::new_file(const TraceFileInfo& /*info*/, ByteStream& out, bool /*continuation*/) {
  out_ = &out;
  frames_ = 0;
  failed_ = false;
  return true;
}

bool AscFormat::frame(const CanRecord& record) {
  if (!can_record_is_frame(record)) return true;
  if (out_ == nullptr) return false;
  int64_t milliseconds = whole_milliseconds(record.timestamp);
  if (frames_ == 0) {
    start_ms_ = milliseconds;
    line_.clear();
    // A date out of the calendar has no reason of the system's.
    Status written = asc_append_header(line_, start_ms_) ? write_whole(*out_, line_)
                                                          : Status::failure();
    if (!written.ok()) {
      DIAG_FAILURE(LOG_ERROR, written.error(), "Could not write CAN header");
      failed_ = true;
      return false;
    }
  }
  line_.clear();
  asc_append_line(line_, milliseconds - start_ms_, record);
  Status written = line_.empty() ? Status::failure() : write_whole(*out_, line_);
  if (!written.ok()) {
    DIAG_FAILURE(LOG_ERROR, written.error(), "Could not write CAN data");
    failed_ = true;
    return false;
  }
  ++frames_;
  return true;
}

int64_t AscFormat::end_file() {
  ByteStream* out = out_;
  out_ = nullptr;
  if (failed_) return -1;
  if (frames_ == 0) return 0;
  Status written = write_whole(*out, END_LINE.data(), static_cast<int64_t>(END_LINE.size()));
  if (!written.ok()) {
    DIAG_FAILURE(LOG_ERROR, written.error(), "Could not write CAN data");
    return -1;
  }
  return frames_;
}

}  // namespace velmarch
