#pragma once

#include <cstdint>

#include "base/small_string.h"
#include "textlog/can_record.h"

namespace velmarch {

/// One input file as a sink sees it. Valid only during the call that receives it.
struct TraceFileInfo {
  SmallString input_path;   // relative to the job's input root
  SmallString output_path;  // relative to the job's output root, without extension
  SmallString logger_id;    // "LOGGERID" when the header names none
  double header_time = 0;   // seconds since 1970
  uint32_t session_no = 0;
  uint32_t split_no = 0;
  /// Set before end_file when the input could not be read to its end: the frames the sink got
  /// are only the first part of the file.
  bool input_cut_short = false;
};

/// Receives the frames of one input file at a time: new_file, frames, end_file. The base
/// refuses everything, as an output that cannot be written would.
class TraceSink {
 public:
  virtual ~TraceSink() = default;
  /// True when the frame was accepted (also when the sink chose not to write it); false stops
  /// the frames of this file.
  virtual bool frame(const CanRecord& /*record*/) { return false; }
  virtual bool new_file(const TraceFileInfo& /*info*/, bool /*continuation*/) { return false; }
  /// Called once per file, also after new_file failed; true when the output ended cleanly.
  virtual bool end_file(const TraceFileInfo& /*info*/) { return false; }
};

}  // namespace velmarch
