// Per-line costs of the reader and the writer, apart from the file system:
//   velmarch_line_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

#include "bench/workload.h"
#include "stream/buffered_stream.h"
#include "textlog/text_log_reader.h"
#include "trc/trc_format.h"
#include "trc/trc_writer.h"

namespace {

using namespace velmarch;

// A stream over a string, read only: the benchmark's input.
class TextStream final : public ByteStream {
 public:
  explicit TextStream(std::string text) : text_(std::move(text)) {}
  IoResult read(void* destination, uint64_t count) override {
    uint64_t left = text_.size() - position_;
    if (count > left) count = left;
    std::memcpy(destination, text_.data() + position_, count);
    position_ += count;
    return static_cast<int64_t>(count);
  }
  IoResult tell() override { return static_cast<int64_t>(position_); }
  IoResult seek(int64_t offset, int origin) override {
    if (origin != SEEK_SET || offset < 0 || static_cast<uint64_t>(offset) > text_.size()) {
      return Status::failure(EINVAL);
    }
    position_ = static_cast<uint64_t>(offset);
    return offset;
  }

 private:
  std::string text_;
  uint64_t position_ = 0;
};

// Takes every byte and keeps none: the writer's output.
class NullStream final : public ByteStream {
 public:
  IoResult write(const void*, uint64_t count) override { return static_cast<int64_t>(count); }
};

constexpr uint64_t frames = 100000;

std::string workload(velmarch_bench::TimeStyle style) {
  char* data = nullptr;
  size_t size = 0;
  std::FILE* memory = open_memstream(&data, &size);
  velmarch_bench::write_workload(memory, frames, style, 1);
  std::fclose(memory);
  std::string text(data, size);
  std::free(data);
  return text;
}

// Reads every record of the workload, buffered as a default conversion reads it.
void read_records(benchmark::State& state, velmarch_bench::TimeStyle style) {
  std::string text = workload(style);
  for (auto _ : state) {
    TextStream inner(text);
    auto stream = buffered_stream_open(inner, text.size());
    auto reader = text_log_open(stream.get());
    text_log_rewind(*reader);
    CanRecord record;
    uint64_t n = 0;
    while (text_log_next(*reader, record)) ++n;
    benchmark::DoNotOptimize(n);
    text_log_close(reader);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * frames));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
void BM_ReadClockTimes(benchmark::State& state) {
  read_records(state, velmarch_bench::TimeStyle::clock);
}
void BM_ReadFullTimes(benchmark::State& state) {
  read_records(state, velmarch_bench::TimeStyle::full);
}
BENCHMARK(BM_ReadClockTimes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadFullTimes)->Unit(benchmark::kMillisecond);

// Writes one line per record of the workload, read once beforehand.
void write_records(benchmark::State& state, int32_t version) {
  std::string text = workload(velmarch_bench::TimeStyle::clock);
  TextStream inner(text);
  auto reader = text_log_open(&inner);
  text_log_rewind(*reader);
  std::vector<CanRecord> records;
  CanRecord record;
  while (text_log_next(*reader, record)) records.push_back(record);
  text_log_close(reader);

  NullStream out;
  auto writer = trc_writer_create(version);
  TraceFileInfo info;
  info.output_path.append(StrView("bench"));
  for (auto _ : state) {
    writer->new_file(info, out, false);
    for (const CanRecord& r : records) writer->frame(r);
    writer->end_file();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * records.size()));
}
void BM_WriteVersion1(benchmark::State& state) { write_records(state, TRC_VERSION_1_1); }
void BM_WriteVersion2(benchmark::State& state) { write_records(state, TRC_VERSION_2_1); }
BENCHMARK(BM_WriteVersion1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteVersion2)->Unit(benchmark::kMillisecond);

// One record line, formatted by hand and through stb_sprintf.
void format_line(benchmark::State& state, bool by_hand) {
  CanRecord record;
  record.id = 0x18FF1234;
  record.extended = 1;
  record.length = 8;
  const uint8_t bytes[] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
  record.data.append(bytes, 8);
  SmallString line;
  int64_t number = 1;
  for (auto _ : state) {
    line.clear();
    double offset = static_cast<double>(number) * 1.25;
    if (by_hand) {
      trc21_append_record(line, number++, offset, record);
    } else {
      trc21_append_record_plain(line, number++, offset, record);
    }
    benchmark::DoNotOptimize(line.data());
  }
}
void BM_FormatLineByHand(benchmark::State& state) { format_line(state, true); }
void BM_FormatLineWithStb(benchmark::State& state) { format_line(state, false); }
BENCHMARK(BM_FormatLineByHand);
BENCHMARK(BM_FormatLineWithStb);

}  // namespace

BENCHMARK_MAIN();
