#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

namespace velmarch {

/// Record kinds. A text log holds CAN frames only; a trace writes both kinds of frame.
inline constexpr int32_t CAN_RECORD_FRAME = 1;
inline constexpr int32_t CAN_RECORD_OTHER_FRAME = 2;
/// A logger records one bus.
inline constexpr uint8_t CAN_RECORD_BUS = 1;

/// The data bytes of a classic CAN frame, held in place so that a record copies as plain data.
struct FrameBytes {
  static constexpr size_t CAPACITY = 8;

  const char* data() const { return bytes; }
  int64_t size() const { return count; }
  bool empty() const { return count == 0; }
  void clear() { count = 0; }
  /// Appends what fits of the bytes given; a frame holds CAPACITY at most.
  void append(const void* source, size_t n) {
    size_t room = CAPACITY - count;
    size_t taken = n < room ? n : room;
    if (taken == 0) return;  // the source may then be null
    std::memcpy(bytes + count, source, taken);
    count = static_cast<uint8_t>(count + taken);
  }

  friend bool operator==(const FrameBytes& a, const FrameBytes& b) {
    return a.count == b.count && std::memcmp(a.bytes, b.bytes, a.count) == 0;
  }

  char bytes[CAPACITY] = {};
  uint8_t count = 0;
};

/// One CAN frame, as the reader hands it to a trace sink.
struct CanRecord {
  double timestamp = 0;  // seconds since 1970-01-01 00:00:00 UTC
  uint8_t bus = 0;
  uint32_t id = 0;
  FrameBytes data;
  int32_t kind = 0;  // CAN_RECORD_FRAME; sinks handle the two frame kinds and ignore others
  uint8_t extended = 0;
  uint8_t tx = 0;
  uint8_t fd = 0;
  uint8_t esi = 0;
  uint8_t brs = 0;
  uint8_t rtr = 0;
  uint8_t length = 0;
};
// Records cross between threads in batches, as plain memory, two to a cache line and a half.
static_assert(std::is_trivially_copyable_v<CanRecord> && sizeof(CanRecord) <= 40);

/// Whether a trace writes the record: either kind of frame. Other kinds are accepted and left out.
inline bool can_record_is_frame(const CanRecord& record) {
  return record.kind == CAN_RECORD_FRAME || record.kind == CAN_RECORD_OTHER_FRAME;
}

}  // namespace velmarch
