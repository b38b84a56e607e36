#pragma once

#include <cstdint>
#include <memory>
#include <vector>

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
  /// The input's permission bits, which its output takes; 0 for the platform's default.
  uint32_t permissions = 0;
  /// The input is deleted once its output is durable: the output waits, unpublished, for
  /// commit, and is never published over anything already at its name.
  bool durable = false;
  /// Set before end_file when the input could not be read to its end, or the run was
  /// interrupted: the frames the sink got are only the first part of the file.
  bool input_cut_short = false;
  /// Set before publish when the run stops: the output goes, whatever it holds, and nothing
  /// else is touched.
  bool interrupted = false;
  /// Another file converted at the same time has an output of the same name: only publish, in
  /// turn, may give it. Otherwise end_file may give a whole output its name at once.
  bool name_shared = false;
};

/// Receives the frames of one input file at a time: new_file, frames, end_file, then publish.
/// The base refuses everything, as an output that cannot be written would.
///
/// Files may be converted side by side, each by a sink of its own from another(). Their frames
/// and end_file may come on any thread; new_file comes before them, and publish and commit
/// come on the thread that runs the conversion, one file at a time, in the order the
/// files were found.
class TraceSink {
 public:
  virtual ~TraceSink() = default;
  /// True when the frame was accepted (also when the sink chose not to write it); false stops
  /// the frames of this file.
  virtual bool frame(const CanRecord& /*record*/) { return false; }
  virtual bool new_file(const TraceFileInfo& /*info*/, bool /*continuation*/) { return false; }
  /// Called once per file, also after new_file failed; true when the output ended cleanly.
  virtual bool end_file(const TraceFileInfo& /*info*/) { return false; }
  /// After end_file, in the order the files were found: gives a whole output its name (or, for
  /// a durable file, keeps it for commit); for a failed one leaves its name as writing in place
  /// would have. True when that went well.
  virtual bool publish(const TraceFileInfo& /*info*/) { return true; }

  /// After publish: whether the file's output holds frames and was kept, published at once or,
  /// for a durable file, waiting for commit.
  virtual bool kept() const { return false; }
  /// A sink for another file converted beside this one, into the same outputs; null when this
  /// sink can take only one file at a time. Sinks made so share what waits for commit, and
  /// must not outlive the sink they came from.
  virtual std::unique_ptr<TraceSink> another() { return nullptr; }
  /// Makes the outputs of durable files kept since the last commit durable and publishes them,
  /// in the order they were kept, never over anything at their names; answers for each whether
  /// it is now published and durable. An interrupted run commits too: whole work is kept.
  virtual std::vector<bool> commit() { return {}; }
};

}  // namespace velmarch
