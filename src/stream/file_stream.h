#pragma once

#include <cstdio>
#include <memory>

#include "stream/byte_stream.h"

namespace velmarch {

enum FileStreamMode : int {
  FILE_STREAM_READ = 0,
  FILE_STREAM_WRITE = 1,
  FILE_STREAM_READ_WRITE = 2,
};

/// A file opened in binary mode through the C runtime.
class alignas(64) FileStream final : public ByteStream {
 public:
  FileStream(FILE* file, int mode);
  ~FileStream() override;

  IoResult read(void* destination, uint64_t count) override;
  IoResult write(const void* source, uint64_t count) override;
  IoResult tell() override;
  IoResult seek(int64_t offset, int origin) override;
  Status close() override;
  Result<PathStatus> identity() override;
  void expect_large_reads() override;

 private:
  Status flush_pending();

  FILE* file_;
  int mode_;
  int64_t position_ = 0;
  // Write mode gathers the many short writes of a trace here and hands the C runtime large
  // blocks; absent when it could not be allocated.
  std::unique_ptr<char[]> pending_;
  size_t pending_size_ = 0;
};

/// Bytes gathered by a stream in write mode before they go to the file.
inline constexpr size_t FILE_STREAM_WRITE_BLOCK = size_t{256} << 10;

/// Standard input to read, or standard output to write, as a stream that closes it at the end.
std::unique_ptr<ByteStream> file_stream_standard(int mode);

/// Fails when the name is null, the mode is not one of the three, or the file cannot be opened.
/// Write mode creates the file or truncates it; read-write mode needs an existing file.
Result<std::unique_ptr<ByteStream>> file_stream_open(const char* name, int mode);
/// A new file in write mode, created only when nothing is at the name (never through a link),
/// with the given permission bits; EEXIST when something is there.
Result<std::unique_ptr<ByteStream>> file_stream_create_new(const char* name, uint32_t permissions);

}  // namespace velmarch
