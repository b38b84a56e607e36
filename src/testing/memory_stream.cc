#include "testing/memory_stream.h"

#include <algorithm>
#include <cstring>

namespace velmarch {

IoResult MemoryStream::read(void* destination, uint64_t count) {
  ++reads;
  if (fail_reads_from >= 0 && position_ + static_cast<int64_t>(count) > fail_reads_from) {
    int64_t allowed = std::max<int64_t>(0, fail_reads_from - position_);
    if (allowed == 0) return Status::failure();
    count = static_cast<uint64_t>(allowed);
  }
  int64_t left = static_cast<int64_t>(content_.size()) - position_;
  if (left <= 0) return int64_t{0};
  int64_t take = std::min<int64_t>(left, static_cast<int64_t>(count));
  std::memcpy(destination, content_.data() + position_, static_cast<size_t>(take));
  position_ += take;
  return take;
}

IoResult MemoryStream::write(const void* source, uint64_t count) {
  int64_t take = static_cast<int64_t>(count);
  if (write_budget >= 0) {
    take = std::min(take, write_budget);
    write_budget -= take;
  }
  if (position_ > static_cast<int64_t>(content_.size())) content_.resize(position_);
  content_.replace(static_cast<size_t>(position_), static_cast<size_t>(take),
                   static_cast<const char*>(source), static_cast<size_t>(take));
  position_ += take;
  return take;
}

IoResult MemoryStream::seek(int64_t offset, int origin) {
  ++seeks;
  int64_t target = origin == SEEK_SET   ? offset
                   : origin == SEEK_CUR ? position_ + offset
                   : origin == SEEK_END ? static_cast<int64_t>(content_.size()) + offset
                                        : -1;
  if (target < 0) return Status::failure(EINVAL);
  position_ = target;
  return target;
}

Status MemoryStream::close() {
  ++closes;
  if (fail_close) return Status::failure();
  if (closed_flag != nullptr) *closed_flag = true;
  return Status();
}

}  // namespace velmarch
