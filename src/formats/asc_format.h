#pragma once

#include <cstdint>
#include <memory>

#include "base/small_string.h"
#include "convert/trace_sink.h"

namespace velmarch {

/// Vector's ASC text, ".asc", laid out as python-can's ASCWriter writes it: the header with
/// the first frame's date, then one line per frame on channel 1, timed in seconds from the
/// first frame, and "End TriggerBlock". Nothing is written until the first frame.
class AscFormat final : public TraceSink {
 public:
  StrView extension() const override { return ".asc"; }
  bool new_file(const TraceFileInfo& info, ByteStream& out, bool continuation) override;
  bool frame(const CanRecord& record) override;
  int64_t end_file() override;
  std::unique_ptr<TraceSink> another() const override;

 private:
  friend std::unique_ptr<TraceSink> asc_format_create();
  AscFormat() = default;

  ByteStream* out_ = nullptr;  // borrowed, from new_file to end_file
  SmallString line_;           // reused for every line
  int64_t start_ms_ = 0;       // the first frame's time, in milliseconds since 1970
  int64_t frames_ = 0;
  bool failed_ = false;  // the header, a line or the end did not go out whole
};

/// Null when memory runs out.
std::unique_ptr<TraceSink> asc_format_create();

/// Appends the header lines for a first frame at start_ms milliseconds since 1970, read as
/// the logger's wall-clock time: "date", "base", "no internal events logged", "Begin
/// Triggerblock" and "Start of measurement". False when the time has no calendar date.
bool asc_append_header(SmallString& line, int64_t start_ms);

/// Appends one frame's line, line feed included, offset_ms after the first frame:
/// " 0.012000 1  18FF1234x       Tx   d 3 01 02 03".
void asc_append_line(SmallString& line, int64_t offset_ms, const CanRecord& record);

}  // namespace velmarch
