#pragma once

// Text logs for tests, and opening them over in-memory streams.

#include <cstdio>
#include <memory>
#include <string>

#include "testing/memory_stream.h"
#include "textlog/text_log_reader.h"

namespace velmarch {

struct OpenLog {
  std::unique_ptr<MemoryStream> stream;
  std::unique_ptr<TextLogReader> reader;  // null when the text did not open
};

/// Opens text as a text log and, when it opens, rewinds it for the first record.
inline OpenLog open_log(const std::string& text) {
  OpenLog log;
  log.stream = std::make_unique<MemoryStream>(text);
  log.reader = text_log_open(log.stream.get());
  if (log.reader) text_log_rewind(*log.reader);
  return log;
}

/// A header with the value separator ";" and the given extra lines, then the heading.
inline std::string log_text(const std::string& header_lines, const std::string& heading,
                            const std::string& records) {
  return "# Logger type: TarvikA\n# Value separator: \";\"\n" + header_lines + heading + "\n" +
         records;
}

/// The header of a logger's split file, then the column heading.
inline std::string split_header(const std::string& logger, int session, int split) {
  return "# Logger ID: " + logger + "\n# Session No.: " + std::to_string(session) +
         "\n# Split No.: " + std::to_string(split) +
         "\n# Time: 20241017T110553\n# Value separator: \";\"\n# Time format: 3\n"
         "# Time separator: \":\"\n# Time separator ms: \".\"\nTimestamp;Type;ID;Length;Data\n";
}

/// Frames `from` to `from + count - 1`, 10 ms apart from 11:05:53.
inline std::string split_records(int from, int count) {
  std::string lines;
  for (int i = from; i < from + count; ++i) {
    int ms = 53000 + 10 * i;
    char line[64];
    std::snprintf(line, sizeof line, "11:05:%02d.%03d;%d;%X;2;%02X%02X\n", ms / 1000, ms % 1000,
                  i % 3 == 0 ? 1 : 0, 0x100 + i, i & 0xFF, i >> 8);
    lines += line;
  }
  return lines;
}

/// A logger's split file of `count` frames from frame `from` on.
inline std::string split_log(const std::string& logger, int session, int number, int from,
                             int count) {
  return split_header(logger, session, number) + split_records(from, count);
}

}  // namespace velmarch
