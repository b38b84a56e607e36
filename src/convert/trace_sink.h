#pragma once

#include <cstdint>
#include <memory>

#include "base/small_string.h"
#include "base/str_view.h"
#include "stream/byte_stream.h"
#include "textlog/can_record.h"

namespace velmarch {

/// One input file as a format sees it. Valid only during the call that receives it.
struct TraceFileInfo {
  SmallString input_path;   // relative to the job's input root
  SmallString output_path;  // relative to the job's output root, without extension
  SmallString logger_id;    // "LOGGERID" when the header names none
  double header_time = 0;   // seconds since 1970
  uint32_t session_no = 0;
  uint32_t split_no = 0;
};

/// What one trace format does: turns the frames of one input into the bytes of its output.
/// Where the bytes go, and whether they are ever published, is not its business: the job
/// stages the output, publishes it, commits it for -d or removes it, the same for every format.
/// The base refuses everything, as a format that cannot write would.
///
/// One object handles one file at a time; files converted side by side each get one from
/// another(). The calls for one file come on one thread: new_file, frame for each record,
/// end_file.
class TraceSink {
 public:
  virtual ~TraceSink() = default;
  /// The ending of the output's name, its dot included: ".trc".
  virtual StrView extension() const { return {}; }
  /// Starts an output whose bytes go to out, which stays open until end_file has answered.
  /// False when the format cannot start (the output is then dropped).
  virtual bool new_file(const TraceFileInfo& /*info*/, ByteStream& /*out*/,
                        bool /*continuation*/) {
    return false;
  }
  /// One record; true also when the format chose not to write it. False when it could not be
  /// written: no more frames of this file come then.
  virtual bool frame(const CanRecord& /*record*/) { return false; }
  /// After the last frame: writes what the format ends with, or fills in its header (out can
  /// seek). Answers the frames the output holds, 0 when it holds none (it is then not kept), or
  /// -1 when something could not be written (it is then never published).
  virtual int64_t end_file() { return -1; }
  /// A format object for another file converted at the same time; null when there can be
  /// only one.
  virtual std::unique_ptr<TraceSink> another() const { return nullptr; }
};

}  // namespace velmarch
