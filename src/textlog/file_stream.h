#pragma once

#include <cstdio>
#include <memory>

#include "textlog/byte_stream.h"

namespace velmarch {

enum FileStreamMode : int {
  FILE_STREAM_READ = 0,
  FILE_STREAM_WRITE = 1,
  FILE_STREAM_READ_WRITE = 2,
};

/// A file opened in binary mode through the C runtime.
class FileStream final : public ByteStream {
 public:
  FileStream(FILE* file, int mode) : file_(file), mode_(mode) {}
  ~FileStream() override;

  int64_t read(void* destination, uint64_t count) override;
  int64_t write(const void* source, uint64_t count) override;
  int64_t tell() override;
  int64_t seek(int64_t offset, int origin) override;
  int close() override;

 private:
  FILE* file_;
  int mode_;
  int64_t position_ = 0;
};

/// Null when the name is null, the mode is not one of the three, or the file cannot be opened.
/// Write mode creates the file or truncates it; read-write mode needs an existing file.
std::unique_ptr<ByteStream> file_stream_open(const char* name, int mode);

}  // namespace velmarch
