#include "textlog/log_header.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/platform.h"

namespace velmarch {

namespace {

// The value of a header line: the text after its first ": ", ended (by writing a terminator)
// at the first line feed or carriage return. Null when the line holds no ": ".
char* header_value(char* line) {
  char* value = std::strstr(line, ": ");
  if (value == nullptr) return nullptr;
  value += 2;
  value[std::strcspn(value, "\n\r")] = '\0';
  return value;
}

void scan_int(char* line, int32_t* field) {
  if (char* value = header_value(line)) {
    int v;
    if (std::sscanf(value, "%i", &v) == 1) *field = v;
  }
}

// "%s" with the width of the field ("%4s", "%21s"), so a longer token is cut to its start.
void scan_token(char* line, const char* format, char* field) {
  if (char* value = header_value(line)) std::sscanf(value, format, field);
}

char quoted_character(const char* value) {
  char c = 0;
  if (std::strlen(value) == 3) std::sscanf(value, "\"%c\"", &c);
  return c;
}

void scan_separator(char* line, char* field) {
  if (char* value = header_value(line)) *field = quoted_character(value);
}

void scan_flag(char* line, int32_t* field) {
  if (char* value = header_value(line)) {
    if (std::strcmp(value, "true") == 0) *field = 1;
    if (std::strcmp(value, "false") == 0) *field = 0;
  }
}

// # Logger type: TarvikB
void parse_logger_type(LogHeader& h, char* line) {
  char* value = header_value(line);
  if (value == nullptr) return;
  static const char* const names[] = {"TarvikA", "TarvikB", "TarvikC"};
  for (int32_t i = 0; i < 3; ++i) {
    if (std::strcmp(value, names[i]) == 0) h.logger_type = i;
  }
}

static_assert(sizeof LogHeader::hw_rev == 5 && sizeof LogHeader::fw_rev == 5);
static_assert(sizeof LogHeader::logger_id == 22);
// # HW rev: 3.2
void parse_hw_rev(LogHeader& h, char* line) { scan_token(line, "%4s", h.hw_rev); }
// # FW rev: 5.10
void parse_fw_rev(LogHeader& h, char* line) { scan_token(line, "%4s", h.fw_rev); }
// # Logger ID: 0000AB12
void parse_logger_id(LogHeader& h, char* line) { scan_token(line, "%21s", h.logger_id); }
// # Session No.: 1  (any "%i" form: 010 is 8, 0x10 is 16)
void parse_session_no(LogHeader& h, char* line) { scan_int(line, &h.session_no); }
// # Split No.: 2
void parse_split_no(LogHeader& h, char* line) { scan_int(line, &h.split_no); }
// # Bit-rate: 500000
void parse_bit_rate(LogHeader& h, char* line) { scan_int(line, &h.bit_rate); }

// # Time format: 3
void parse_time_format(LogHeader& h, char* line) {
  if (char* value = header_value(line)) {
    int v = 0;
    std::sscanf(value, "%i", &v);
    h.time_format = static_cast<uint8_t>(v);
  }
}

// # Time: 20241017T110553
void parse_time(LogHeader& h, char* line) {
  char* value = header_value(line);
  if (value == nullptr) return;
  unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  std::sscanf(value, "%4u%2u%2uT%2u%2u%2u", &year, &month, &day, &hour, &minute, &second);
  struct tm fields {};
  fields.tm_year = static_cast<int>(year) - 1900;
  fields.tm_mon = static_cast<int>(month) - 1;
  fields.tm_mday = static_cast<int>(day);
  fields.tm_hour = static_cast<int>(hour);
  fields.tm_min = static_cast<int>(minute);
  fields.tm_sec = static_cast<int>(second);
  fields.tm_isdst = 0;
  h.header_time = static_cast<double>(platform_local_to_time(&fields));
  // Cut to the field's 19 characters.
  size_t length = std::strlen(value);
  if (length > sizeof h.time_text - 1) length = sizeof h.time_text - 1;
  std::memcpy(h.time_text, value, length);
  h.time_text[length] = '\0';
}

// # Value separator: ";"
void parse_value_separator(LogHeader& h, char* line) { scan_separator(line, &h.value_separator); }
// # Time separator: ":"
void parse_time_separator(LogHeader& h, char* line) { scan_separator(line, &h.time_separator); }
// # Time separator ms: "."
void parse_time_separator_ms(LogHeader& h, char* line) {
  scan_separator(line, &h.time_separator_ms);
}
// # Date separator: "/"
void parse_date_separator(LogHeader& h, char* line) { scan_separator(line, &h.date_separator); }
// # Time and date separator: "T"
void parse_time_and_date_separator(LogHeader& h, char* line) {
  scan_separator(line, &h.time_and_date_separator);
}
// # Silent mode: false
void parse_silent_mode(LogHeader& h, char* line) { scan_flag(line, &h.silent_mode); }
// # Cyclic mode: true
void parse_cyclic_mode(LogHeader& h, char* line) { scan_flag(line, &h.cyclic_mode); }

}  // namespace

const HeaderField header_fields[HEADER_FIELD_COUNT] = {
    {"Logger type: ", parse_logger_type},
    {"HW rev: ", parse_hw_rev},
    {"FW rev: ", parse_fw_rev},
    {"Logger ID: ", parse_logger_id},
    {"Session No.: ", parse_session_no},
    {"Split No.: ", parse_split_no},
    {"Time: ", parse_time},
    {"Value separator: ", parse_value_separator},
    {"Time format: ", parse_time_format},
    {"Time separator: ", parse_time_separator},
    {"Time separator ms: ", parse_time_separator_ms},
    {"Date separator: ", parse_date_separator},
    {"Time and date separator: ", parse_time_and_date_separator},
    {"Bit-rate: ", parse_bit_rate},
    {"Silent mode: ", parse_silent_mode},
    {"Cyclic mode: ", parse_cyclic_mode},
};

void log_header_apply_line(LogHeader& header, char* line) {
  for (const HeaderField& field : header_fields) {
    if (std::strstr(line, field.label) != nullptr) field.parse(header, line);
  }
}

}  // namespace velmarch
