#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "base/small_string.h"
#include "convert/trace_sink.h"
#include "fs/folder_root.h"
#include "textlog/byte_stream.h"
#include "trc/trc_format.h"

namespace velmarch {

/// Writes every input file as a ".trc" file of one version under the output root: the header at
/// the first frame, one line per frame. Each trace is written under a hidden temporary name
/// beside its final one and renamed to it once whole, so the final name holds either what it
/// held before or the whole trace. A trace without record lines, or whose writes, close or input
/// failed, is removed again.
class TrcWriter final : public TraceSink {
 public:
  bool frame(const CanRecord& record) override;
  bool new_file(const TraceFileInfo& info, bool continuation) override;
  bool end_file(const TraceFileInfo& info) override;
  bool publish(const TraceFileInfo& info) override;
  bool kept() const override { return kept_; }
  std::unique_ptr<TraceSink> another() override;
  std::vector<bool> commit() override;

 private:
  friend std::unique_ptr<TrcWriter> trc_writer_create(FolderRoot* output_root, int32_t version);

  // A durable file's trace, whole and closed, waiting for commit under its temporary name; or,
  // when an earlier run left the very same bytes at its name, waiting to be dropped for that
  // one, which must still be the file compared then.
  struct Staged {
    SmallString temporary;
    SmallString final;
    bool identical = false;
    FileIdentity existing;
  };
  // What the writers of one run share. Only the thread that publishes touches staged.
  struct Shared {
    FolderRoot* output_root;  // borrowed
    const TrcVersion& version;
    std::vector<Staged> staged;
    int writers = 0;  // how many writers there are, for their temporary names
  };

  explicit TrcWriter(Shared& shared);
  bool write_line();
  bool open_temporary(uint32_t permissions);
  bool give_name(const TraceFileInfo& info);
  bool remove_temporary(StrView temporary);
  bool remove_previous_trace();
  bool same_bytes(StrView a, StrView b);
  bool commit_identical(const Staged& staged);

  std::unique_ptr<Shared> own_shared_;  // the first writer's; the others borrow it
  Shared& shared_;
  std::unique_ptr<ByteStream> stream_;  // the open output file, if any
  SmallString path_;                    // final path relative to the output root, ".trc" included
  bool header_written_ = false;
  double start_time_ = 0;    // timestamp of the file's first frame; NaN until it arrives
  int64_t next_number_ = 0;  // message number of the next record line
  SmallString line_;         // reused for every line
  // Whether new_file created the current temporary file: only a file this writer created may
  // be removed again.
  bool opened_ = false;
  // A header or record line of the current output did not go out whole.
  bool write_failed_ = false;
  bool whole_ = false;   // end_file left a whole trace for publish to name
  bool named_ = false;   // end_file gave the trace its name already
  bool failed_ = false;  // end_file removed a trace that failed
  bool kept_ = false;
  SmallString temporary_;  // where the current trace is written, relative to the output root
  uint64_t name_state_ = 0;
};

/// Null for any version but TRC_VERSION_1_1 and TRC_VERSION_2_1, or when memory runs out.
std::unique_ptr<TrcWriter> trc_writer_create(FolderRoot* output_root, int32_t version);

/// The hidden name a trace is written under: ".<name>.<six letters or digits>.part" beside the
/// final path, a name no run converts or takes for a trace. A name too long for that is cut.
SmallString temporary_trace_path(StrView final_path, uint64_t random);
/// The final path a temporary name made by temporary_trace_path stands for; empty otherwise.
SmallString final_trace_path(StrView temporary_path);

}  // namespace velmarch
