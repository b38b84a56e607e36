#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <type_traits>

#include "platform/path_status.h"
#include "platform/result.h"

namespace velmarch {

/// A count of bytes or a position, or the failure that kept it: a trivially copyable pair that
/// travels in registers.
using IoResult = Result<int64_t>;
static_assert(std::is_trivially_copyable<IoResult>::value, "returned in registers");

/// A stream of bytes with five operations. The base answers Status::absent() for read, write,
/// tell and seek and closes successfully; each kind of stream overrides what it supports.
/// Reads answer the count read, 0 at the end of the data, or the failure, so that callers can
/// tell a file that could not be read whole from one that ended. A write that puts fewer bytes
/// than it was given answers the count it put, or fails with the reason when there is one.
class ByteStream {
 public:
  virtual ~ByteStream() = default;
  virtual IoResult read(void* /*destination*/, uint64_t /*count*/) {
    return Status::absent();
  }
  virtual IoResult write(const void* /*source*/, uint64_t /*count*/) {
    return Status::absent();
  }
  virtual IoResult tell() { return Status::absent(); }
  /// Origins are SEEK_SET, SEEK_CUR and SEEK_END; answers the new position.
  virtual IoResult seek(int64_t /*offset*/, int /*origin*/) {
    return Status::absent();
  }
  /// Fails when the stream could not be closed (it then stays allocated).
  virtual Status close() { return Status(); }

  /// For readers that scan bytes in place: the bytes buffered from the read position on,
  /// refilled when none are left. Answers their count (at *data), 0 at the end of the data, the
  /// failure of a read, or Status::absent() when the stream keeps no buffer of its own.
  virtual IoResult peek_buffered(const unsigned char** /*data*/) {
    return Status::absent();
  }
  /// Moves the read position past n of the bytes the last peek_buffered answered.
  virtual void consume_buffered(uint64_t /*n*/) {}

  /// The identity and state of the file behind the stream; a failure when there is none.
  virtual Result<PathStatus> identity() { return Status::absent(); }
  /// Tells a stream, before its first read, that reads will come in large blocks, so that it
  /// need keep no buffer of its own.
  virtual void expect_large_reads() {}
};

inline IoResult byte_stream_read(ByteStream& s, void* destination, uint64_t count) {
  return s.read(destination, count);
}
inline IoResult byte_stream_write(ByteStream& s, const void* source, uint64_t count) {
  return s.write(source, count);
}
inline IoResult byte_stream_tell(ByteStream& s) { return s.tell(); }
inline IoResult byte_stream_seek(ByteStream& s, int64_t offset, int origin) {
  return s.seek(offset, origin);
}

/// Closes and, on success, frees the stream. A null stream closes successfully. On failure the
/// stream is kept so that the caller decides what to do with it.
Status byte_stream_close(std::unique_ptr<ByteStream>& stream);

/// The stream's size, leaving its position where it was; fails for a null stream.
IoResult byte_stream_size(ByteStream* stream);

}  // namespace velmarch
