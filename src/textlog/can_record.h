#pragma once

#include <cstdint>

#include "base/small_string.h"

namespace velmarch {

/// Record kinds. A text log holds CAN frames only; a trace writes both kinds of frame.
inline constexpr int32_t CAN_RECORD_FRAME = 1;
inline constexpr int32_t CAN_RECORD_OTHER_FRAME = 2;
/// A logger records one bus.
inline constexpr uint8_t CAN_RECORD_BUS = 1;

/// One CAN frame, as the reader hands it to a trace sink.
struct CanRecord {
  double timestamp = 0;  // seconds since 1970-01-01 00:00:00 UTC
  uint8_t bus = 0;
  uint32_t id = 0;
  SmallString data;  // raw data bytes, at most 8 from a text log
  int32_t kind = 0;  // CAN_RECORD_FRAME; sinks handle the two frame kinds and ignore others
  uint8_t extended = 0;
  uint8_t tx = 0;
  uint8_t fd = 0;
  uint8_t esi = 0;
  uint8_t brs = 0;
  uint8_t rtr = 0;
  uint8_t length = 0;
};

/// Whether a trace writes the record: either kind of frame. Other kinds are accepted and left out.
inline bool can_record_is_frame(const CanRecord& record) {
  return record.kind == CAN_RECORD_FRAME || record.kind == CAN_RECORD_OTHER_FRAME;
}

}  // namespace velmarch
