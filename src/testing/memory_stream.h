#pragma once

#include <cstdint>
#include <string>

#include "stream/byte_stream.h"

namespace velmarch {

/// A readable and writable stream over a string that counts the calls it gets and can be told
/// to fail: reads from a chosen offset on, writes after a byte budget, or its close.
class MemoryStream final : public ByteStream {
 public:
  explicit MemoryStream(std::string content = {}) : content_(std::move(content)) {}

  IoResult read(void* destination, uint64_t count) override;
  IoResult write(const void* source, uint64_t count) override;
  IoResult tell() override { return position_; }
  IoResult seek(int64_t offset, int origin) override;
  Status close() override;

  const std::string& content() const { return content_; }

  int reads = 0;
  int seeks = 0;
  int closes = 0;
  int64_t fail_reads_from = -1;   // reads reaching this offset fail, without a reason
  int64_t write_budget = -1;      // bytes accepted before writes come up short
  bool fail_close = false;
  bool* closed_flag = nullptr;    // set to true on a successful close

 private:
  std::string content_;
  int64_t position_ = 0;
};

}  // namespace velmarch
