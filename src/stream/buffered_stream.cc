#include "stream/buffered_stream.h"

#include <cstring>
#include <new>

namespace velmarch {

std::unique_ptr<BufferedStream> BufferedStream::create(ByteStream& inner, uint64_t size) {
  if (size == 0) return nullptr;
  uint64_t capacity = (size + 7) / 8 * 8;
  if (capacity < size || capacity > SIZE_MAX) return nullptr;
  std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[capacity]);
  if (!buffer) return nullptr;
  return std::unique_ptr<BufferedStream>(
      new (std::nothrow) BufferedStream(inner, std::move(buffer), capacity));
}

std::unique_ptr<ByteStream> buffered_stream_open(std::unique_ptr<ByteStream>& inner,
                                                 uint64_t size) {
  if (!inner) return nullptr;
  std::unique_ptr<BufferedStream> stream = BufferedStream::create(*inner, size);
  if (!stream) return nullptr;
  stream->owned_inner_ = std::move(inner);
  return stream;
}

std::unique_ptr<ByteStream> buffered_stream_open(ByteStream& inner, uint64_t size) {
  return BufferedStream::create(inner, size);
}

BufferedStream::BufferedStream(ByteStream& inner, std::unique_ptr<unsigned char[]> buffer,
                               uint64_t capacity)
    : capacity_(capacity), buffer_(std::move(buffer)), inner_(&inner) {}

bool BufferedStream::refill(uint64_t offset) {
  (void)inner_->seek(static_cast<int64_t>(offset), SEEK_SET);
  IoResult got = inner_->read(buffer_.get(), capacity_);
  if (!got.ok() || got.value() == 0) {
    last_failure_ = got.status();
    return false;
  }
  base_ = offset;
  cursor_ = 0;
  fill_ = static_cast<uint64_t>(got.value());
  return true;
}

IoResult BufferedStream::read(void* destination, uint64_t count) {
  auto* out = static_cast<unsigned char*>(destination);
  // The reader takes one byte per call: keep that path short.
  if (count == 1 && cursor_ < fill_) {
    *out = buffer_[cursor_++];
    return int64_t{1};
  }
  if (count == 0) return int64_t{0};
  uint64_t delivered = 0;
  while (delivered < count) {
    if (cursor_ == fill_ && !refill(base_ + cursor_)) {
      if (delivered > 0) return static_cast<int64_t>(delivered);
      return end_or_failure();
    }
    uint64_t take = fill_ - cursor_;
    if (take > count - delivered) take = count - delivered;
    std::memcpy(out + delivered, buffer_.get() + cursor_, take);
    cursor_ += take;
    delivered += take;
  }
  return static_cast<int64_t>(count);
}

IoResult BufferedStream::peek_buffered(const unsigned char** data) {
  if (cursor_ == fill_ && !refill(base_ + cursor_)) return end_or_failure();
  *data = buffer_.get() + cursor_;
  return static_cast<int64_t>(fill_ - cursor_);
}

IoResult BufferedStream::seek(int64_t offset, int origin) {
  int64_t target;
  if (origin == SEEK_SET) {
    target = offset;
  } else if (origin == SEEK_CUR) {
    target = static_cast<int64_t>(base_ + cursor_) + offset;
  } else if (origin == SEEK_END) {
    (void)inner_->seek(offset, SEEK_END);
    target = inner_->tell().value_or(-1);
  } else {
    return Status::failure(EINVAL);
  }
  if (target >= 0 && static_cast<uint64_t>(target) >= base_ &&
      static_cast<uint64_t>(target) <= base_ + fill_) {
    cursor_ = static_cast<uint64_t>(target) - base_;
    return target;
  }
  if (target < 0 || !refill(static_cast<uint64_t>(target))) {
    return static_cast<int64_t>(base_ + cursor_);
  }
  return target;
}

Status BufferedStream::close() {
  if (owned_inner_) {
    // A failed close leaves the inner stream ours; it is closed quietly when this one goes.
    Status closed = byte_stream_close(owned_inner_);
    if (!closed.ok()) return closed;
  }
  inner_ = nullptr;
  return Status();
}

}  // namespace velmarch
