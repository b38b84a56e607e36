#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/str_view.h"
#include "stream/byte_stream.h"
#include "textlog/can_record.h"
#include "textlog/log_header.h"
#include "textlog/text_lines.h"
#include "textlog/timestamps.h"

namespace velmarch {

inline constexpr int MAX_COLUMNS = 7;         // columns looked at per line

/// The parser of one column position; none for a column that is skipped.
enum class ColumnParser : uint8_t { none = 0, timestamp, lost, type, id, length, data };

/// One open text log. Made by text_log_open, freed by text_log_close.
struct alignas(64) TextLogReader {
  ByteStream* stream = nullptr;  // borrowed: never closed or freed by the reader
  uint32_t data_offset = 0;      // offset of the first record line
  LogHeader header;
  TimestampClock clock;  // set from the header once it is read
  ColumnParser columns[MAX_COLUMNS] = {};
  double last_time = 0;          // timestamp of the last record handed out
  /// A stream read answered an error: the file could not be read whole. text_log_next then
  /// answers false, as at the end of the file; the caller tells the two apart with this flag.
  bool failed = false;
  bool ended = false;  // text_log_next answered the end of the lines
  int64_t skipped_lines = 0;    // records dropped for a timestamp that ran backwards
  int64_t rollovers = 0;        // timestamps taken for a wrap of the clock...
  int64_t implausible_rollovers = 0;  // ... of which ran back by less than half a period
  /// The number, as an editor counts lines, of the line read next; from the first record line
  /// on once the reader is rewound.
  uint64_t next_line = 1;
  uint64_t data_line = 1;       // the number of the first record line
  /// What the reader's messages call the log: its path, as the caller knows it. Borrowed.
  StrView name;
  int parsed_columns = 0;       // fields worth splitting: up to the last column with a parser
  char line[TEXT_LINE_BUFFER] = {};
};

/// Reads the header block and the column heading from offset 0 of the stream. Null when the
/// stream is null, memory runs out, the stream cannot be read, or the text is not a text log
/// (no "#" line first, no heading line, no known column). The stream then stands after the
/// heading line.
std::unique_ptr<TextLogReader> text_log_open(ByteStream* stream);

/// Seeks the stream to the first record line; answers the new position, -1 when it failed.
int64_t text_log_rewind(TextLogReader& reader);

/// Fills record from the next line whose timestamp does not run backwards; false at the end of
/// the lines or after a read error (see text_log_failed).
bool text_log_next(TextLogReader& reader, CanRecord& record);

/// Whether a stream read answered an error.
inline bool text_log_failed(const TextLogReader& reader) { return reader.failed; }

/// Frees the reader; the stream stays open.
void text_log_close(std::unique_ptr<TextLogReader>& reader);

/// The column heading step of text_log_open: seeks to offset 0, skips the "#" lines, maps the
/// heading's fields to columns and sets data_offset. True when a known column was found.
bool read_column_heading(TextLogReader& reader);

/// The column parsers; field is the terminated text of one field.
void column_timestamp(TextLogReader& reader, const char* field, CanRecord& record);
void column_lost(TextLogReader& reader, const char* field, CanRecord& record);
void column_type(TextLogReader& reader, const char* field, CanRecord& record);
void column_id(TextLogReader& reader, const char* field, CanRecord& record);
void column_length(TextLogReader& reader, const char* field, CanRecord& record);
void column_data(TextLogReader& reader, const char* field, CanRecord& record);

}  // namespace velmarch
