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
    flush_pending();
    std::fclose(file_);
  }
  if (pending_ && !spare_block) spare_block = std::move(pending_);
}

bool FileStream::flush_pending() {
  if (pending_size_ == 0) return true;
  size_t put = std::fwrite(pending_.get(), 1, pending_size_, file_);
  bool complete = put == pending_size_;
  pending_size_ = 0;
  return complete;
}

int64_t FileStream::read(void* destination, uint64_t count) {
  if (mode_ == FILE_STREAM_WRITE) return -2;
  if (file_ == nullptr) return -1;
  size_t got = std::fread(destination, 1, count, file_);
  if (got > 0) {
    position_ += static_cast<int64_t>(got);
    return static_cast<int64_t>(got);
  }
  return std::ferror(file_) ? -1 : 0;
}

int64_t FileStream::write(const void* source, uint64_t count) {
  if (mode_ == FILE_STREAM_READ) return -2;
  if (file_ == nullptr) return -1;
  if (pending_) {
    if (count <= FILE_STREAM_WRITE_BLOCK - pending_size_) {
      std::memcpy(pending_.get() + pending_size_, source, count);
      pending_size_ += count;
      position_ += static_cast<int64_t>(count);
      return static_cast<int64_t>(count);
    }
    if (!flush_pending()) return 0;
    if (count < FILE_STREAM_WRITE_BLOCK) return write(source, count);
  }
  size_t put = std::fwrite(source, 1, count, file_);
  if (put > 0) position_ += static_cast<int64_t>(put);
  return static_cast<int64_t>(put);
}

int64_t FileStream::tell() {
  if (file_ == nullptr || !flush_pending()) return -1;
  Result<int64_t> position = platform_file_tell(file_);
  return position.ok() ? position.value() : -1;
}

int64_t FileStream::seek(int64_t offset, int origin) {
  // Sequential reads keep position_ equal to the file's, so a buffer refilling from where it
  // stopped costs no platform seek.
  if (origin == SEEK_SET && offset == position_) return offset;
  if (file_ == nullptr || (origin != SEEK_SET && origin != SEEK_CUR && origin != SEEK_END)) {
    return -1;
  }
  if (!flush_pending()) return -1;
  if (!platform_file_seek(file_, offset, origin).ok()) return -1;
  Result<int64_t> position = platform_file_tell(file_);
  position_ = position.ok() ? position.value() : -1;
  return position_;
}

int FileStream::close() {
  if (file_ == nullptr) return 0;
  bool flushed = flush_pending();
  int result = std::fclose(file_);
  if (!flushed && result == 0) result = EOF;
  // The C runtime lets go of the handle even when fclose fails: never close it twice.
  file_ = nullptr;
  return result;
}

void FileStream::expect_large_reads() {
  // The C runtime's buffer would only be a second copy, and setting it up asks the system for
  // the file's status once more.
  if (mode_ == FILE_STREAM_READ && file_ != nullptr && position_ == 0) {
    std::setvbuf(file_, nullptr, _IONBF, 0);
  }
}

bool FileStream::identity(PathStatus& identity) {
  if (file_ == nullptr) return false;
  Result<PathStatus> found = platform_file_identity(file_);
  if (found.ok()) identity = found.value();
  return found.ok();
}

}  // namespace velmarch
