#pragma once

// Opening text logs over in-memory streams, for the reader's tests.

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

}  // namespace velmarch
