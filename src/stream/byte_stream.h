#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#include "platform/platform.h"

namespace velmarch {

/// A stream of bytes with five operations. The base answers -2 for read, write, tell and seek
/// (an absent operation) and 0 for close; each kind of stream overrides what it supports.
/// Reads answer the count read, 0 at the end of the data and a negative value on a read error,
/// so that callers can tell a file that could not be read whole from one that ended.
class ByteStream {
 public:
  virtual ~ByteStream() = default;
  virtual int64_t read(void* /*destination*/, uint64_t /*count*/) { return -2; }
  virtual int64_t write(const void* /*source*/, uint64_t /*count*/) { return -2; }
  virtual int64_t tell() { return -2; }
  /// Origins are SEEK_SET, SEEK_CUR and SEEK_END; answers the new position or an error value.
  virtual int64_t seek(int64_t /*offset*/, int /*origin*/) { return -2; }
  /// 0 on success; non-zero when the stream could not be closed (it then stays allocated).
  virtual int close() { return 0; }

  /// For readers that scan bytes in place: the bytes buffered from the read position on,
  /// refilled when none are left. Answers their count (at *data), 0 at the end of the data, a
  /// negative value on a read error, or -2 when the stream keeps no buffer of its own.
  virtual int64_t peek_buffered(const unsigned char** /*data*/) { return -2; }
  /// Moves the read position past n of the bytes the last peek_buffered answered.
  virtual void consume_buffered(uint64_t /*n*/) {}

  /// The identity and state of the file behind the stream; false when there is none.
  virtual bool identity(PathStatus& /*identity*/) { return false; }
  /// Tells a stream, before its first read, that reads will come in large blocks, so that it
  /// need keep no buffer of its own.
  virtual void expect_large_reads() {}
};

inline int64_t byte_stream_read(ByteStream& s, void* destination, uint64_t count) {
  return s.read(destination, count);
}
inline int64_t byte_stream_write(ByteStream& s, const void* source, uint64_t count) {
  return s.write(source, count);
}
inline int64_t byte_stream_tell(ByteStream& s) { return s.tell(); }
inline int64_t byte_stream_seek(ByteStream& s, int64_t offset, int origin) {
  return s.seek(offset, origin);
}

/// Closes and, on success, frees the stream. A null stream answers 0. On failure the stream
/// is kept so that the caller decides what to do with it.
int byte_stream_close(std::unique_ptr<ByteStream>& stream);

/// The stream's size, leaving its position where it was; -1 for a null stream.
int64_t byte_stream_size(ByteStream* stream);

}  // namespace velmarch
