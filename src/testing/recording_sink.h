#pragma once

#include <string>
#include <vector>

#include "convert/trace_sink.h"

namespace velmarch {

/// A format that writes down every call as a line ("new_file a.txt continuation=0",
/// "frame 123", "end_file a.txt") and refuses the calls it is told to. Its output holds a line
/// per frame; it counts as whole when it got frames and refused none.
class RecordingSink final : public TraceSink {
 public:
  StrView extension() const override { return ".rec"; }
  bool new_file(const TraceFileInfo& info, ByteStream& out, bool continuation) override {
    input_ = std::string(info.input_path.view());
    calls.push_back("new_file " + input_ + " continuation=" + (continuation ? "1" : "0"));
    logger_ids.emplace_back(info.logger_id.view());
    out_ = &out;
    file_frames_ = 0;
    return !fail_new_file;
  }
  bool frame(const CanRecord& record) override {
    calls.push_back("frame " + std::to_string(record.id));
    bool accepted = fail_frame_after < 0 || frames_accepted++ < fail_frame_after;
    std::string line = "frame " + std::to_string(record.id) + "\n";
    accepted = accepted && byte_stream_write(*out_, line.data(), line.size()).value_or(-1) ==
                               static_cast<int64_t>(line.size());
    file_frames_ = accepted && file_frames_ >= 0 ? file_frames_ + 1 : -1;  // -1: one was refused
    return accepted;
  }
  int64_t end_file() override {
    calls.push_back("end_file " + input_);
    return fail_end_file ? -1 : file_frames_;
  }

  std::vector<std::string> calls;
  std::vector<std::string> logger_ids;
  bool fail_new_file = false;
  bool fail_end_file = false;
  int fail_frame_after = -1;  // frames accepted before frame answers false
  int frames_accepted = 0;

 private:
  std::string input_;
  ByteStream* out_ = nullptr;
  int64_t file_frames_ = 0;
};

}  // namespace velmarch
