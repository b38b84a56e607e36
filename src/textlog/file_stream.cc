#include "textlog/file_stream.h"

#include <new>

#include "platform/platform.h"

namespace velmarch {

std::unique_ptr<ByteStream> file_stream_open(const char* name, int mode) {
  static const char* const modes[] = {"rb", "wb", "r+b"};
  if (name == nullptr || mode < FILE_STREAM_READ || mode > FILE_STREAM_READ_WRITE) return nullptr;
  FILE* file = platform_file_open(name, modes[mode]);
  if (file == nullptr) return nullptr;
  std::unique_ptr<ByteStream> stream(new (std::nothrow) FileStream(file, mode));
  if (!stream) std::fclose(file);
  return stream;
}

FileStream::~FileStream() {
  if (file_ != nullptr) std::fclose(file_);
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
  size_t put = std::fwrite(source, 1, count, file_);
  if (put > 0) position_ += static_cast<int64_t>(put);
  return static_cast<int64_t>(put);
}

int64_t FileStream::tell() { return file_ != nullptr ? platform_file_tell(file_) : -1; }

int64_t FileStream::seek(int64_t offset, int origin) {
  // Sequential reads keep position_ equal to the file's, so a buffer refilling from where it
  // stopped costs no platform seek.
  if (origin == SEEK_SET && offset == position_) return offset;
  if (file_ == nullptr || (origin != SEEK_SET && origin != SEEK_CUR && origin != SEEK_END)) {
    return -1;
  }
  int result = platform_file_seek(file_, offset, origin);
  if (result != 0) return result;
  position_ = platform_file_tell(file_);
  return position_;
}

int FileStream::close() {
  if (file_ == nullptr) return 0;
  int result = std::fclose(file_);
  // The C runtime lets go of the handle even when fclose fails: never close it twice.
  file_ = nullptr;
  return result;
}

}  // namespace velmarch
