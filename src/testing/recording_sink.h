#pragma once

#include <string>
#include <vector>

#include "convert/trace_sink.h"

namespace velmarch {

/// A sink that writes down every call as a line ("new_file a.txt continuation=0", "frame 123",
/// "end_file a.txt") and refuses the calls it is told to.
class RecordingSink final : public TraceSink {
 public:
  bool frame(const CanRecord& record) override {
    calls.push_back("frame " + std::to_string(record.id));
    return fail_frame_after < 0 || frames_accepted++ < fail_frame_after;
  }
  bool new_file(const TraceFileInfo& info, bool continuation) override {
    calls.push_back("new_file " + std::string(info.input_path.view()) +
                    " continuation=" + (continuation ? "1" : "0"));
    logger_ids.emplace_back(info.logger_id.view());
    return !fail_new_file;
  }
  bool end_file(const TraceFileInfo& info) override {
    calls.push_back("end_file " + std::string(info.input_path.view()));
    return !fail_end_file;
  }

  std::vector<std::string> calls;
  std::vector<std::string> logger_ids;
  bool fail_new_file = false;
  bool fail_end_file = false;
  int fail_frame_after = -1;  // frames accepted before frame answers false
  int frames_accepted = 0;
};

}  // namespace velmarch
