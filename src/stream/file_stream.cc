#include "stream/file_stream.h"

#include <cerrno>
#include <cstring>
#include <new>

#include "platform/platform.h"

namespace velmarch {

Result<std::unique_ptr<ByteStream>> file_stream_open(const char* name, int mode) {
  static const char* const modes[] = {"rb", "wb", "r+b"};
  if (name == nullptr || mode < FILE_STREAM_READ || mode > FILE_STREAM_READ_WRITE) {
    return Status::failure(EINVAL);
  }
  Result<FILE*> file = platform_file_open(name, modes[mode]);
  if (!file.ok()) return file.status();
  std::unique_ptr<ByteStream> stream(new (std::nothrow) FileStream(file.value(), mode));
  if (!stream) {
    std::fclose(file.value());
    return Status::failure(ENOMEM);
  }
  return stream;
}

std::unique_ptr<ByteStream> file_stream_standard(int mode) {
  FILE* file =
      mode == FILE_STREAM_READ ? platform_standard_input() : platform_standard_output();
  return std::unique_ptr<ByteStream>(new (std::nothrow) FileStream(file, mode));
}

Result<std::unique_ptr<ByteStream>> file_stream_create_new(const char* name,
                                                           uint32_t permissions) {
  Result<FILE*> file = platform_file_create_new(name, permissions);
  if (!file.ok()) return file.status();
  std::unique_ptr<ByteStream> stream(new (std::nothrow)
                                          FileStream(file.value(), FILE_STREAM_WRITE));
  if (!stream) {
    std::fclose(file.value());
    return Status::failure(ENOMEM);
  }
  return stream;
}

namespace {

// The write block of the last file closed on this thread, for the next one: a new block for
// every small trace would be mapped, touched page by page and unmapped again each time.
thread_local std::unique_ptr<char[]> spare_block;

}  // namespace

FileStream::FileStream(FILE* file, int mode) : file_(file), mode_(mode) {
  if (mode == FILE_STREAM_WRITE) {
    pending_ = std::move(spare_block);
    if (!pending_) pending_.reset(new (std::nothrow) char[FILE_STREAM_WRITE_BLOCK]);
    // The blocks are large already: a second copy into the C runtime's buffer buys nothing.
    if (pending_) std::setvbuf(file_, nullptr, _IONBF, 0);
  }
}

FileStream::~FileStream() {
  if (file_ != nullptr) {
    (void)flush_pending();
    std::fclose(file_);
  }
  if (pending_ && !spare_block) spare_block = std::move(pending_);
}

Status FileStream::flush_pending() {
  if (pending_size_ == 0) return Status();
  size_t put = std::fwrite(pending_.get(), 1, pending_size_, file_);
  bool complete = put == pending_size_;
  pending_size_ = 0;
  return complete ? Status() : Status::failure(errno);
}

IoResult FileStream::read(void* destination, uint64_t count) {
  if (mode_ == FILE_STREAM_WRITE) return Status::absent();
  if (file_ == nullptr) return Status::failure(EBADF);
  size_t got = std::fread(destination, 1, count, file_);
  if (got > 0) {
    position_ += static_cast<int64_t>(got);
    return static_cast<int64_t>(got);
  }
  if (std::ferror(file_)) return Status::failure(errno);
  return int64_t{0};
}

IoResult FileStream::write(const void* source, uint64_t count) {
  if (mode_ == FILE_STREAM_READ) return Status::absent();
  if (file_ == nullptr) return Status::failure(EBADF);
  if (pending_) {
    if (count <= FILE_STREAM_WRITE_BLOCK - pending_size_) {
      std::memcpy(pending_.get() + pending_size_, source, count);
      pending_size_ += count;
      position_ += static_cast<int64_t>(count);
      return static_cast<int64_t>(count);
    }
    Status flushed = flush_pending();
    if (!flushed.ok()) return flushed;
    if (count < FILE_STREAM_WRITE_BLOCK) return write(source, count);
  }
  size_t put = std::fwrite(source, 1, count, file_);
  position_ += static_cast<int64_t>(put);
  // The reason is what callers need of a short write: the bytes it put are in the file anyway.
  if (put < count) return Status::failure(errno);
  return static_cast<int64_t>(put);
}

IoResult FileStream::tell() {
  if (file_ == nullptr) return Status::failure(EBADF);
  Status flushed = flush_pending();
  if (!flushed.ok()) return flushed;
  return platform_file_tell(file_);
}

IoResult FileStream::seek(int64_t offset, int origin) {
  // Sequential reads keep position_ equal to the file's, so a buffer refilling from where it
  // stopped costs no platform seek.
  if (origin == SEEK_SET && offset == position_) return offset;
  if (file_ == nullptr) return Status::failure(EBADF);
  if (origin != SEEK_SET && origin != SEEK_CUR && origin != SEEK_END) {
    return Status::failure(EINVAL);
  }
  Status flushed = flush_pending();
  if (!flushed.ok()) return flushed;
  Status moved = platform_file_seek(file_, offset, origin);
  if (!moved.ok()) return moved;
  IoResult position = platform_file_tell(file_);
  position_ = position.value_or(-1);
  return position;
}

Status FileStream::close() {
  if (file_ == nullptr) return Status();
  Status flushed = flush_pending();
  int closed = std::fclose(file_);
  int error = errno;
  // The C runtime lets go of the handle even when fclose fails: never close it twice.
  file_ = nullptr;
  if (closed != 0) return Status::failure(error);
  return flushed;
}

void FileStream::expect_large_reads() {
  // The C runtime's buffer would only be a second copy, and setting it up asks the system for
  // the file's status once more.
  if (mode_ == FILE_STREAM_READ && file_ != nullptr && position_ == 0) {
    std::setvbuf(file_, nullptr, _IONBF, 0);
  }
}

Result<PathStatus> FileStream::identity() {
  if (file_ == nullptr) return Status::failure(EBADF);
  return platform_file_identity(file_);
}

}  // namespace velmarch
