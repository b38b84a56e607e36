#include "stream/byte_stream.h"

namespace velmarch {

Status byte_stream_close(std::unique_ptr<ByteStream>& stream) {
  if (!stream) return Status();
  Status closed = stream->close();
  if (closed.ok()) stream.reset();
  return closed;
}

IoResult byte_stream_size(ByteStream* stream) {
  if (stream == nullptr) return Status::failure(EINVAL);
  IoResult position = stream->tell();
  if (!position.ok()) return position;
  (void)stream->seek(0, SEEK_END);
  IoResult size = stream->tell();
  (void)stream->seek(position.value(), SEEK_SET);
  return size;
}

}  // namespace velmarch
