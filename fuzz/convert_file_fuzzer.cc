// The conversion of one file into an in-memory output. The first byte picks the TRC version
// (bit 0) and a read buffer (the rest: 0 unbuffered, otherwise that many bytes); the other
// bytes are the text log. The file is converted twice, holding it whole and with the picked
// buffering, and both traces must be the same bytes.

#include <string>

#include "convert/conversion_job.h"
#include "fuzz_support.h"
#include "testing/memory_folder_root.h"
#include "trc/trc_writer.h"

namespace {

using namespace velmarch;

struct Conversion {
  int result = -1;
  bool written = false;
  std::string trace;
};

Conversion convert(const std::string& content, int32_t version, int64_t buffer_size) {
  MemoryFolderRoot in("/in/");
  MemoryFolderRoot out("/out/");
  in.add_file("a.txt", content);
  ConversionFlags flags;
  flags.buffer_size = buffer_size;
  flags.delete_converted = true;
  std::unique_ptr<TrcWriter> writer = trc_writer_create(version);
  FUZZ_CHECK(writer);
  std::unique_ptr<ConversionJob> job = job_create(&in, &out, &flags, writer.get());
  FUZZ_CHECK(job);

  Conversion conversion;
  conversion.result = (job_convert_file(*job, "a.txt", "a") | job_commit(*job)).value();
  FUZZ_CHECK(conversion.result == 0 || conversion.result == 8);
  conversion.written = out.has_file("a.trc");
  conversion.trace = out.file("a.trc");
  // Nothing but the trace is left in the output: no temporary file.
  FUZZ_CHECK(out.files().size() == (conversion.written ? 1u : 0u));
  // With --delete-converted the input goes exactly when it was converted into a trace.
  FUZZ_CHECK(in.has_file("a.txt") == (conversion.result != 0 || !conversion.written));
  return conversion;
}

void check_trace(const Conversion& conversion, int32_t version) {
  if (!conversion.written) return;
  // A trace that is kept holds its header and at least one record line.
  FUZZ_CHECK(conversion.result == 0);
  const std::string& trace = conversion.trace;
  const std::string first_line =
      version == TRC_VERSION_1_1 ? ";$FILEVERSION=1.1\n" : ";$FILEVERSION=2.1\n";
  FUZZ_CHECK(trace.compare(0, first_line.size(), first_line) == 0);
  FUZZ_CHECK(trace.back() == '\n');
  size_t records = 0;
  for (size_t start = 0; start < trace.size();) {
    size_t end = trace.find('\n', start);
    FUZZ_CHECK(end != std::string::npos);
    FUZZ_CHECK(end > start);
    for (size_t i = start; i < end; ++i) {
      unsigned char c = static_cast<unsigned char>(trace[i]);
      FUZZ_CHECK(c >= 0x20 && c < 0x7f);  // printable ASCII only, no CR
    }
    if (trace[start] != ';') ++records;
    start = end + 1;
  }
  FUZZ_CHECK(records > 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  int32_t version = (data[0] & 1) != 0 ? TRC_VERSION_1_1 : TRC_VERSION_2_1;
  int64_t buffer_size = data[0] >> 1;
  std::string content(reinterpret_cast<const char*>(data) + 1, size - 1);

  Conversion whole = convert(content, version, -1);
  check_trace(whole, version);
  Conversion picked = convert(content, version, buffer_size);
  FUZZ_CHECK(picked.result == whole.result);
  FUZZ_CHECK(picked.written == whole.written);
  FUZZ_CHECK(picked.trace == whole.trace);
  return 0;
}
