#pragma once

#include <cstdint>
#include <memory>

#include "stream/byte_stream.h"

namespace velmarch {

/// A read-only stream served from a memory buffer that is refilled from an inner stream, which
/// it owns or borrows.
class alignas(64) BufferedStream final : public ByteStream {
 public:
  int64_t read(void* destination, uint64_t count) override;
  int64_t tell() override { return static_cast<int64_t>(base_ + cursor_); }
  int64_t seek(int64_t offset, int origin) override;
  int close() override;
  int64_t peek_buffered(const unsigned char** data) override;
  void consume_buffered(uint64_t n) override { cursor_ += n; }
  bool identity(PathStatus& identity) override {
    return inner_ != nullptr && inner_->identity(identity);
  }

  uint64_t capacity() const { return capacity_; }

 private:
  friend std::unique_ptr<ByteStream> buffered_stream_open(std::unique_ptr<ByteStream>& inner,
                                                          uint64_t size);
  friend std::unique_ptr<ByteStream> buffered_stream_open(ByteStream& inner, uint64_t size);
  static std::unique_ptr<BufferedStream> create(ByteStream& inner, uint64_t size);

  BufferedStream(ByteStream& inner, std::unique_ptr<unsigned char[]> buffer, uint64_t capacity);
  bool refill(uint64_t offset);

  uint64_t capacity_;
  uint64_t fill_ = 0;
  uint64_t cursor_ = 0;
  uint64_t base_ = 0;
  std::unique_ptr<unsigned char[]> buffer_;
  std::unique_ptr<ByteStream> owned_inner_;  // set when closing this stream closes the inner one
  ByteStream* inner_;                        // owned_inner_, or a borrowed stream
  int64_t last_error_ = 0;                   // what the last failed refill read answered
};

/// Buffers size bytes (rounded up to a multiple of 8) of inner, which it then owns: inner is
/// taken only on success. The first read fills the buffer from offset 0 of inner.
std::unique_ptr<ByteStream> buffered_stream_open(std::unique_ptr<ByteStream>& inner,
                                                 uint64_t size);
/// The same over a borrowed stream, which closing the buffer leaves open.
std::unique_ptr<ByteStream> buffered_stream_open(ByteStream& inner, uint64_t size);

}  // namespace velmarch
