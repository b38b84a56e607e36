#pragma once

// What the tests of the formats feed: frames, and one file's run through a format.

#include <string>
#include <vector>

#include "convert/trace_sink.h"

namespace velmarch {

inline CanRecord test_frame(double timestamp, uint32_t id, bool extended, bool tx,
                            const std::string& data) {
  CanRecord record;
  record.timestamp = timestamp;
  record.bus = CAN_RECORD_BUS;
  record.id = id;
  record.kind = CAN_RECORD_FRAME;
  record.extended = extended ? 1 : 0;
  record.tx = tx ? 1 : 0;
  record.data.append(data.data(), data.size());
  record.length = static_cast<uint8_t>(data.size());
  return record;
}

/// The README's example log: 2024-10-17 11:05:53.123, a 29-bit frame sent 12 ms later, an
/// empty one 1.5 s after that.
inline std::vector<CanRecord> worked_example() {
  const double t0 = 1729163153.123;
  return {test_frame(t0, 0x123, false, false, "\x11\x22\x33\x44\x55\x66\x77\x88"),
          test_frame(t0 + 0.012, 0x18FF1234, true, true, "\x01\x02\x03"),
          test_frame(t0 + 1.512, 0x7FF, false, false, "")};
}

/// Feeds one file's frames into out, stopping where a frame is refused; answers end_file.
inline int64_t run_format(TraceSink& format, ByteStream& out,
                          const std::vector<CanRecord>& frames) {
  TraceFileInfo info;
  if (format.new_file(info, out, false)) {
    for (const CanRecord& record : frames) {
      if (!format.frame(record)) break;
    }
  }
  return format.end_file();
}

}  // namespace velmarch
