// The text log reader over arbitrary bytes: open, read every record, close. The bytes are read
// twice, straight from memory and through a small read buffer, and both readings must agree.

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "testing/memory_stream.h"
#include "stream/buffered_stream.h"
#include "textlog/text_log_reader.h"

namespace {

using namespace velmarch;

struct Reading {
  bool opened = false;
  std::vector<CanRecord> records;
};

Reading read_all(ByteStream& stream) {
  Reading reading;
  std::unique_ptr<TextLogReader> reader = text_log_open(&stream);
  if (!reader) return reading;
  reading.opened = true;
  text_log_rewind(*reader);
  CanRecord record;
  double last = -INFINITY;
  while (text_log_next(*reader, record)) {
    FUZZ_CHECK(record.data.size() <= 8);
    FUZZ_CHECK(record.bus == 1 && record.kind == 1);
    FUZZ_CHECK(record.fd == 0 && record.rtr == 0);
    // Records never run backwards.
    FUZZ_CHECK(!(record.timestamp < last));
    if (!std::isnan(record.timestamp)) last = record.timestamp;
    reading.records.push_back(record);
  }
  FUZZ_CHECK(!text_log_failed(*reader));
  text_log_close(reader);
  FUZZ_CHECK(!reader);
  return reading;
}

bool same_double(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool same_record(const CanRecord& a, const CanRecord& b) {
  return same_double(a.timestamp, b.timestamp) && a.bus == b.bus && a.id == b.id &&
         a.data == b.data && a.kind == b.kind && a.extended == b.extended && a.tx == b.tx &&
         a.length == b.length;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string content(reinterpret_cast<const char*>(data), size);

  MemoryStream direct(content);
  Reading first = read_all(direct);

  // A buffer smaller than most inputs, so that refills and seeks outside it happen.
  MemoryStream inner(content);
  std::unique_ptr<ByteStream> buffered = buffered_stream_open(inner, 1 + size % 61);
  FUZZ_CHECK(buffered);
  Reading second = read_all(*buffered);
  FUZZ_CHECK(byte_stream_close(buffered).ok());

  FUZZ_CHECK(first.opened == second.opened);
  FUZZ_CHECK(first.records.size() == second.records.size());
  for (size_t i = 0; i < first.records.size(); ++i) {
    FUZZ_CHECK(same_record(first.records[i], second.records[i]));
  }
  return 0;
}
