#pragma once

// What the formats share: the frame's fields as SocketCAN holds them, digits written by hand
// into a line's spare room, and one write per line or block.

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>

#include "base/small_string.h"
#include "stream/byte_stream.h"
#include "textlog/can_record.h"

namespace velmarch {

/// The identifier masks of SocketCAN, which can-utils and Wireshark apply.
inline constexpr uint32_t SOCKETCAN_SFF_MASK = 0x7FF;
inline constexpr uint32_t SOCKETCAN_EFF_MASK = 0x1FFFFFFF;

inline uint32_t socketcan_id(const CanRecord& record) {
  return record.id & (record.extended == 1 ? SOCKETCAN_EFF_MASK : SOCKETCAN_SFF_MASK);
}

/// The data bytes a classic frame carries: record.length of them, as far as record.data has
/// them, at most 8.
inline int data_count(const CanRecord& record) {
  return static_cast<int>(std::min<int64_t>({record.length, record.data.size(), 8}));
}

/// The length a remote frame asks for, at most 8.
inline int remote_length(const CanRecord& record) { return std::min<int>(record.length, 8); }

/// A text log's times are whole milliseconds; the double only comes near them. Times before
/// 1970, which no log holds, count as 1970, and so does a time that is not a number.
inline int64_t whole_milliseconds(double seconds) {
  double milliseconds = seconds * 1000;
  if (!(milliseconds > 0)) return 0;
  // After the year 2554 the nanoseconds pcapng counts no longer fit in 64 bits.
  constexpr double LAST = 1.8e13;
  // To the nearest in one instruction: the value sits next to a whole number, never on a tie.
  return static_cast<int64_t>(std::llrint(std::min(milliseconds, LAST)));
}

inline constexpr char HEX_UPPER[] = "0123456789ABCDEF";

/// The low `digits` hex digits of value, upper case.
inline char* put_hex(char* out, uint32_t value, int digits) {
  for (int i = digits - 1; i >= 0; --i) *out++ = HEX_UPPER[(value >> (4 * i)) & 15];
  return out;
}

/// Two upper-case hex digits per byte, with separator between them unless it is NUL.
inline char* put_hex_bytes(char* out, const char* data, int count, char separator) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(data);
  for (int i = 0; i < count; ++i) {
    if (i > 0 && separator != '\0') *out++ = separator;
    *out++ = HEX_UPPER[bytes[i] >> 4];
    *out++ = HEX_UPPER[bytes[i] & 15];
  }
  return out;
}

/// value in decimal with at least `width` digits, zeros in front, as "%0*llu" writes it.
inline char* put_zero_padded(char* out, uint64_t value, int width) {
  char digits[20];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  for (int i = n; i < width; ++i) *out++ = '0';
  while (n > 0) *out++ = digits[--n];
  return out;
}

/// The little-endian fields of the binary formats; each answers the byte after it.
inline unsigned char* put_le16(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  return p + 2;
}
inline unsigned char* put_le32(unsigned char* p, uint32_t v) {
  put_le16(p, v & 0xFFFF);
  return put_le16(p + 2, v >> 16);
}
inline unsigned char* put_le64(unsigned char* p, uint64_t v) {
  put_le32(p, static_cast<uint32_t>(v));
  return put_le32(p + 4, static_cast<uint32_t>(v >> 32));
}

/// Writes the bytes in one call; fails when they did not all go out, with the write's reason
/// when it gave one.
inline Status write_whole(ByteStream& out, const void* bytes, int64_t count) {
  IoResult put = byte_stream_write(out, bytes, static_cast<uint64_t>(count));
  if (!put.ok()) return put.status();
  return put.value() == count ? Status() : Status::failure();
}

inline Status write_whole(ByteStream& out, const SmallString& text) {
  return write_whole(out, text.data(), text.size());
}

}  // namespace velmarch
