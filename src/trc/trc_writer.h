#pragma once

#include <cstdint>
#include <memory>

#include "base/small_string.h"
#include "convert/trace_sink.h"
#include "trc/trc_format.h"

namespace velmarch {

/// Writes every input file as a ".trc" trace of one version: the header at the first frame,
/// one line per frame.
class TrcWriter final : public TraceSink {
 public:
  StrView extension() const override { return ".trc"; }
  bool new_file(const TraceFileInfo& info, ByteStream& out, bool continuation) override;
  bool frame(const CanRecord& record) override;
  int64_t end_file() override;
  std::unique_ptr<TraceSink> another() const override;

 private:
  friend std::unique_ptr<TrcWriter> trc_writer_create(int32_t version);

  explicit TrcWriter(const TrcVersion& version);
  Status write_line();

  const TrcVersion& version_;
  ByteStream* out_ = nullptr;  // borrowed: the current output, between new_file and end_file
  bool header_written_ = false;
  double start_time_ = 0;    // timestamp of the file's first frame
  int64_t next_number_ = 0;  // message number of the next record line
  // A header or record line of the current output did not go out whole.
  bool write_failed_ = false;
  SmallString line_;  // reused for every line
};

/// Null for a version trc_version does not know, or when memory runs out.
std::unique_ptr<TrcWriter> trc_writer_create(int32_t version);

}  // namespace velmarch
