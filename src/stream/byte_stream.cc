#include "stream/byte_stream.h"

namespace velmarch {

int byte_stream_close(std::unique_ptr<ByteStream>& stream) {
  if (!stream) return 0;
  int result = stream->close();
  if (result == 0) stream.reset();
  return result;
}

int64_t byte_stream_size(ByteStream* stream) {
  if (stream == nullptr) return -1;
  int64_t position = stream->tell();
  stream->seek(0, SEEK_END);
  int64_t size = stream->tell();
  stream->seek(position, SEEK_SET);
  return size;
}

}  // namespace velmarch
