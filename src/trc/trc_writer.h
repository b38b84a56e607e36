#pragma once

#include <cstdint>
#include <memory>

#include "base/small_string.h"
#include "convert/trace_sink.h"
#include "fs/folder_root.h"
#include "textlog/byte_stream.h"

namespace velmarch {

inline constexpr int32_t TRC_VERSION_1_1 = 1;
inline constexpr int32_t TRC_VERSION_2_1 = 2;

/// Writes every input file as a ".trc" file of one version under the output root: the header at
/// the first frame, one line per frame, and the file removed again when no record line was
/// written, or when a write or the close failed.
class TrcWriter final : public TraceSink {
 public:
  bool frame(const CanRecord& record) override;
  bool new_file(const TraceFileInfo& info, bool continuation) override;
  bool end_file(const TraceFileInfo& info) override;

  FolderRoot* output_root = nullptr;  // borrowed
  bool (*write_header)(TrcWriter& writer) = nullptr;
  bool (*write_frame)(TrcWriter& writer, const CanRecord& record) = nullptr;
  std::unique_ptr<ByteStream> stream;  // the open output file, if any
  SmallString path;                    // output path relative to output_root, ".trc" included
  bool header_written = false;
  double start_time = 0;    // timestamp of the file's first frame; NaN until it arrives
  int64_t next_number = 0;  // message number of the next record line
  SmallString line;         // reused for every line

 private:
  // Whether new_file opened the current output: only an output this writer created may be
  // removed again.
  bool opened_ = false;
  // A header or record line of the current output did not go out whole.
  bool write_failed_ = false;
};

/// Null for any version but TRC_VERSION_1_1 and TRC_VERSION_2_1, or when memory runs out.
std::unique_ptr<TrcWriter> trc_writer_create(FolderRoot* output_root, int32_t version);
/// Closes a file still open, quietly; removes nothing.
void trc_writer_release(std::unique_ptr<TrcWriter>& writer);

}  // namespace velmarch
