#pragma once

#include <memory>

#include "base/small_string.h"
#include "convert/trace_sink.h"

namespace velmarch {

/// can-utils' log format, ".log", line for line as `candump -l` writes it: no header, one line
/// per frame on interface can0. The format has no direction, so Rx and Tx read the same.
class CandumpFormat final : public TraceSink {
 public:
  StrView extension() const override { return ".log"; }
  bool new_file(const TraceFileInfo& info, ByteStream& out, bool continuation) override;
  bool frame(const CanRecord& record) override;
  int64_t end_file() override;
  std::unique_ptr<TraceSink> another() const override;

 private:
  friend std::unique_ptr<TraceSink> candump_format_create();
  CandumpFormat() = default;

  ByteStream* out_ = nullptr;  // borrowed, from new_file to end_file
  SmallString line_;           // reused for every line
  int64_t frames_ = 0;
  bool failed_ = false;  // a line did not go out whole
};

/// Null when memory runs out.
std::unique_ptr<TraceSink> candump_format_create();

/// Appends one frame's line, line feed included:
/// "(1729163153.123000) can0 123#1122334455667788".
void candump_append_line(SmallString& line, const CanRecord& record);

}  // namespace velmarch
