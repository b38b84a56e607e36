#pragma once

#include <cstdint>
#include <memory>

#include "stream/byte_stream.h"

namespace velmarch {

/// A read-only stream served from a memory buffer that is refilled from an inner stream, which
/// it owns or borrows.
class alignas(64) BufferedStream final : public ByteStream {
 public:
  IoResult read(void* destination, uint64_t count) override;
  IoResult tell() override { return static_cast<int64_t>(base_ + cursor_); }
  IoResult seek(int64_t offset, int origin) override;
  Status close() override;
  IoResult peek_buffered(const unsigned char** data) override;
  void consume_buffered(uint64_t n) override { cursor_ += n; }
  Result<PathStatus> identity() override {
    if (inner_ == nullptr) return Status::failure(EBADF);
    return inner_->identity();
  }

  uint64_t capacity() const { return capacity_; }

 private:
  friend std::unique_ptr<ByteStream> buffered_stream_open(std::unique_ptr<ByteStream>& inner,
                                                          uint64_t size);
  friend std::unique_ptr<ByteStream> buffered_stream_open(ByteStream& inner, uint64_t size);
  static std::unique_ptr<BufferedStream> create(ByteStream& inner, uint64_t size);

  BufferedStream(ByteStream& inner, std::unique_ptr<unsigned char[]> buffer, uint64_t capacity);
  bool refill(uint64_t offset);
  /// After a refill that failed: the end of the data, or the read's failure.
  IoResult end_or_failure() const {
    if (last_failure_.ok()) return int64_t{0};
    return last_failure_;
  }

  uint64_t capacity_;
  uint64_t fill_ = 0;
  uint64_t cursor_ = 0;
  uint64_t base_ = 0;
  std::unique_ptr<unsigned char[]> buffer_;
  std::unique_ptr<ByteStream> owned_inner_;  // set when closing this stream closes the inner one
  ByteStream* inner_;                        // owned_inner_, or a borrowed stream
  Status last_failure_;                      // what the last refill that got nothing met
};

/// Buffers size bytes (rounded up to a multiple of 8) of inner, which it then owns: inner is
/// taken only on success. The first read fills the buffer from offset 0 of inner.
std::unique_ptr<ByteStream> buffered_stream_open(std::unique_ptr<ByteStream>& inner,
                                                 uint64_t size);
/// The same over a borrowed stream, which closing the buffer leaves open.
std::unique_ptr<ByteStream> buffered_stream_open(ByteStream& inner, uint64_t size);

}  // namespace velmarch
