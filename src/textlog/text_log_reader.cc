#include "textlog/text_log_reader.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>

#include "diag/log.h"
#include "textlog/text_scan.h"

namespace velmarch {

namespace {

// Splits a line in place into at most max_fields fields, ended by the separator; when there is
// none, the last field ends at the line feed or at the end of the line. With no separator (0)
// the whole line, line feed included, is the one field. Calls on_field(index, text) for each.
template <class OnField>
void split_fields(char* line, size_t length, char separator, int max_fields,
                  OnField&& on_field) {
  // length is where the text ends: its first zero byte.
  char* p = line;
  char* end = line + length;
  for (int index = 0; index < max_fields; ++index) {
    char* start = p;
    if (separator == '\0') {
      on_field(index, start);
      return;
    }
    auto* found = static_cast<char*>(std::memchr(p, separator, static_cast<size_t>(end - p)));
    if (found != nullptr) {
      *found = '\0';
      on_field(index, start);
      p = found + 1;
      continue;
    }
    p = end;
    if (p > start && p[-1] == '\n') p[-1] = '\0';
    on_field(index, start);
    return;
  }
}

struct ColumnName {
  const char* name;
  ColumnParser parser;
};
constexpr ColumnName column_names[] = {
    {"Timestamp", ColumnParser::timestamp}, {"Lost", ColumnParser::lost},
    {"Type", ColumnParser::type},           {"ID", ColumnParser::id},
    {"Length", ColumnParser::length},       {"Data", ColumnParser::data},
};

void clear_record(CanRecord& record) {
  record.timestamp = 0;
  record.bus = 0;
  record.id = 0;
  record.data.clear();
  record.kind = 0;
  record.extended = 0;
  record.tx = 0;
  record.fd = 0;
  record.esi = 0;
  record.brs = 0;
  record.rtr = 0;
  record.length = 0;
}

}  // namespace

// 11:05:53.123  (completed from the header's time)
void column_timestamp(TextLogReader& reader, const char* field, CanRecord& record) {
  record.timestamp = reader.clock.complete(field);
}

void column_lost(TextLogReader&, const char*, CanRecord&) {}

// 9  (bit 0: 29-bit identifier, bit 3: sent by the logger)
void column_type(TextLogReader&, const char* field, CanRecord& record) {
  switch (field[0]) {
    case '0': record.extended = 0; record.tx = 0; break;
    case '1': record.extended = 1; record.tx = 0; break;
    case '8': record.extended = 0; record.tx = 1; break;
    case '9': record.extended = 1; record.tx = 1; break;
    default: break;
  }
}

// 18FF1234
void column_id(TextLogReader&, const char* field, CanRecord& record) {
  scan_hex_u32(field, &record.id);  // "%x"
}

// 8
void column_length(TextLogReader&, const char* field, CanRecord& record) {
  scan_decimal_u8(field, &record.length);  // "%hhu"
}

// 1122334455667788
void column_data(TextLogReader&, const char* field, CanRecord& record) {
  uint8_t bytes[8] = {};  // a pair that does not scan stores 0
  uint8_t length = 0;
  // Pairs are taken while one starts before the end of the text and is not a line end.
  for (const char* pair = field; length < 8; pair += 2) {
    if (pair[0] == '\0' || pair[0] == '\n' || pair[0] == '\r') break;
    scan_hex_pair(pair, &bytes[length]);  // "%2hhx"
    ++length;
    if (pair[1] == '\0') break;
  }
  record.length = length;
  // A copy of all eight bytes is one move; the count then says how many hold data.
  std::memcpy(record.data.bytes, bytes, sizeof bytes);
  record.data.count = length;
}

namespace {

inline void run_column(ColumnParser parser, TextLogReader& reader, const char* field,
                       CanRecord& record) {
  switch (parser) {
    case ColumnParser::none: break;
    case ColumnParser::timestamp: column_timestamp(reader, field, record); break;
    case ColumnParser::lost: column_lost(reader, field, record); break;
    case ColumnParser::type: column_type(reader, field, record); break;
    case ColumnParser::id: column_id(reader, field, record); break;
    case ColumnParser::length: column_length(reader, field, record); break;
    case ColumnParser::data: column_data(reader, field, record); break;
  }
}

}  // namespace

// Timestamp;Type;ID;Length;Data
bool read_column_heading(TextLogReader& reader) {
  ByteStream& stream = *reader.stream;
  (void)byte_stream_seek(stream, 0, SEEK_SET);
  char* line = reader.line;
  int hash_lines = 0;
  size_t length;
  uint64_t line_feeds = 0;
  bool fed = false;
  while ((length = read_text_line(stream, line, reader.failed, &fed)) > 0) {
    line_feeds += fed ? 1 : 0;
    if (line[0] != '#') break;
    ++hash_lines;
  }
  if (reader.failed || length == 0 || hash_lines == 0) return false;
  reader.data_offset = static_cast<uint32_t>(byte_stream_tell(stream).value_or(-1));
  reader.data_line = line_feeds + 1;

  bool known = false;
  reader.parsed_columns = 0;
  char separator = reader.header.value_separator;
  split_fields(line, length, separator, MAX_COLUMNS, [&](int index, const char* f) {
    reader.columns[index] = ColumnParser::none;
    for (const ColumnName& column : column_names) {
      if (std::strcmp(f, column.name) == 0) {
        reader.columns[index] = column.parser;
        reader.parsed_columns = index + 1;
        known = true;
        break;
      }
    }
  });
  return known;
}

std::unique_ptr<TextLogReader> text_log_open(ByteStream* stream) {
  if (stream == nullptr) return nullptr;
  std::unique_ptr<TextLogReader> reader(new (std::nothrow) TextLogReader());
  if (!reader) return nullptr;
  reader->stream = stream;
  (void)byte_stream_seek(*stream, 0, SEEK_SET);
  char* line = reader->line;
  while (read_text_line(*stream, line, reader->failed) > 0 && line[0] == '#') {
    log_header_apply_line(reader->header, line);
  }
  if (reader->failed || !read_column_heading(*reader)) return nullptr;
  reader->clock = TimestampClock(reader->header);
  return reader;
}

int64_t text_log_rewind(TextLogReader& reader) {
  reader.next_line = reader.data_line;
  reader.ended = false;
  return byte_stream_seek(*reader.stream, reader.data_offset, SEEK_SET).value_or(-1);
}

// 11:05:53.123;9;18FF1234;3;010203
namespace {

// Dropped lines a debug run names one by one, per file; the rest are only counted.
constexpr int64_t DROPPED_LINES_NAMED = 20;

// A wrap of a time-of-day clock runs back by nearly a whole period; a step of less than half of
// one is more likely a clock set back or a bad line, and moves the rest of the file all the same.
void tell_rollover(TextLogReader& reader, uint64_t line_number) {
  const TimestampClock& clock = reader.clock;
  ++reader.rollovers;
  if (clock.rollover_step() < clock.rollover_period() / 2.0) {
    ++reader.implausible_rollovers;
    DIAG(LOG_WARN,
         "Timestamp ran back %.3f s at line %lu of %.*s: read as a rollover, later frames move "
         "%u s",
         clock.rollover_step(), static_cast<unsigned long>(line_number), STR_VIEW_ARG(reader.name),
         clock.rollover_period());
  } else {
    DIAG(LOG_DEBUG, "Timestamp rolled over at line %lu of %.*s: later frames move %u s",
         static_cast<unsigned long>(line_number), STR_VIEW_ARG(reader.name),
         clock.rollover_period());
  }
}

}  // namespace

bool text_log_next(TextLogReader& reader, CanRecord& record) {
  if (reader.failed) return false;
  bool dropped = false;
  double reported = 0;
  bool result = false;
  char* line = reader.line;
  for (;;) {
    uint64_t line_number = reader.next_line;
    bool fed = false;
    size_t length = read_text_line(*reader.stream, line, reader.failed, &fed);
    if (reader.failed || length == 0) break;
    if (fed) ++reader.next_line;
    clear_record(record);
    record.bus = CAN_RECORD_BUS;
    split_fields(line, length, reader.header.value_separator, reader.parsed_columns,
                 [&](int index, const char* field) {
                   run_column(reader.columns[index], reader, field, record);
                 });
    if (reader.clock.rolled_over()) tell_rollover(reader, line_number);
    record.kind = CAN_RECORD_FRAME;
    if (record.timestamp < reader.last_time) {
      dropped = true;
      ++reader.skipped_lines;
      reported = reader.last_time;
      if (reader.skipped_lines <= DROPPED_LINES_NAMED) {
        DIAG(LOG_DEBUG, "Dropped line %lu of %.*s: its timestamp runs back %.3f s",
             static_cast<unsigned long>(line_number), STR_VIEW_ARG(reader.name),
             reader.last_time - record.timestamp);
      }
      continue;
    }
    reader.last_time = record.timestamp;
    result = true;
    break;
  }
  if (dropped && reported > 0) {
    DIAG(LOG_WARN, "Skipping non-increasing timestamp: %f", reported);
  }
  if (!result && !reader.failed && !reader.ended && reader.skipped_lines > DROPPED_LINES_NAMED) {
    int64_t more = reader.skipped_lines - DROPPED_LINES_NAMED;
    DIAG(LOG_DEBUG, "Dropped %" PRId64 " more line%s of %.*s whose timestamps ran back", more,
         more == 1 ? "" : "s", STR_VIEW_ARG(reader.name));
  }
  if (!result) reader.ended = true;
  return result;
}

void text_log_close(std::unique_ptr<TextLogReader>& reader) { reader.reset(); }

}  // namespace velmarch
