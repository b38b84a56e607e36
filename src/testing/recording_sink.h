#pragma once

#include <string>
#include <vector>

#include "convert/trace_sink.h"

namespace velmarch {

/// A sink that writes down every call as a line ("new_file a.txt continuation=0", "frame 123",
/// "end_file a.txt", "commit") and refuses the calls it is told to. A file counts as
/// kept when it got frames and refused none; durable ones wait for commit, which publishes them
/// all.
class RecordingSink final : public TraceSink {
 public:
  bool frame(const CanRecord& record) override {
    calls.push_back("frame " + std::to_string(record.id));
    bool accepted = fail_frame_after < 0 || frames_accepted++ < fail_frame_after;
    file_frames_ = accepted && file_frames_ >= 0 ? file_frames_ + 1 : -1;  // -1: one was refused
    return accepted;
  }
  bool new_file(const TraceFileInfo& info, bool continuation) override {
    calls.push_back("new_file " + std::string(info.input_path.view()) +
                    " continuation=" + (continuation ? "1" : "0"));
    logger_ids.emplace_back(info.logger_id.view());
    file_frames_ = 0;
    return !fail_new_file;
  }
  bool end_file(const TraceFileInfo& info) override {
    calls.push_back("end_file " + std::string(info.input_path.view()));
    kept_ = !fail_end_file && !info.input_cut_short && file_frames_ > 0;
    if (kept_ && info.durable) ++waiting_;
    return !fail_end_file;
  }
  bool kept() const override { return kept_; }
  std::vector<bool> commit() override {
    calls.push_back("commit");
    std::vector<bool> published(waiting_, true);
    waiting_ = 0;
    return published;
  }

  std::vector<std::string> calls;
  std::vector<std::string> logger_ids;
  bool fail_new_file = false;
  bool fail_end_file = false;
  int fail_frame_after = -1;  // frames accepted before frame answers false
  int frames_accepted = 0;

 private:
  int file_frames_ = 0;
  bool kept_ = false;
  size_t waiting_ = 0;
};

}  // namespace velmarch
