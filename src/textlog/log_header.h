#pragma once

#include <cstdint>

namespace velmarch {

/// How much of the date and time a record timestamp carries: each format is named after its
/// highest field, which sets how far the time rolls back when that field wraps.
enum TimeFormat : uint8_t {
  TIME_FORMAT_FULL = 0,     // every digit from the year down: no rollover
  TIME_FORMAT_SECONDS = 1,  // rolls over every minute
  TIME_FORMAT_MINUTES = 2,  // every hour
  TIME_FORMAT_HOURS = 3,    // every day
  TIME_FORMAT_DAYS = 4,     // every calendar month
  TIME_FORMAT_MONTHS = 5,   // every calendar year
};

/// The values of a text log's header block. Each field is set only by its own header
/// line; a missing or unreadable line leaves the previous value (the zero default unless an
/// earlier line with the same label set it).
struct LogHeader {
  int32_t logger_type = 0;  // "TarvikA" 0, "TarvikB" 1, "TarvikC" 2
  char hw_rev[5] = {};
  char fw_rev[5] = {};
  char logger_id[22] = {};
  int32_t session_no = 0;
  int32_t split_no = 0;
  double header_time = 0;  // local standard time of the machine, seconds since 1970
  char time_text[20] = {};  // the "Time: " value text, kept for record timestamps
  char value_separator = 0;  // 0: none
  uint8_t time_format = 0;  // a TimeFormat
  char time_separator = 0;
  char time_separator_ms = 0;
  char date_separator = 0;
  char time_and_date_separator = 0;
  int32_t bit_rate = 0;
  int32_t silent_mode = 0;
  int32_t cyclic_mode = 0;

  bool operator==(const LogHeader&) const = default;
};

/// Takes the header and a whole header line (terminated); may write a terminator into the line
/// at the end of its value.
using HeaderParser = void (*)(LogHeader& header, char* line);

struct HeaderField {
  const char* label;  // includes the trailing ": "
  HeaderParser parse;
};

inline constexpr int HEADER_FIELD_COUNT = 16;
extern const HeaderField header_fields[HEADER_FIELD_COUNT];

/// Applies, in table order, the parser of every row of header_fields whose label occurs anywhere
/// in the line.
void log_header_apply_line(LogHeader& header, char* line);

}  // namespace velmarch
