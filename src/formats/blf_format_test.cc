#include "formats/blf_format.h"

#include <gtest/gtest.h>
#include <libdeflate.h>

#include <memory>
#include <string>
#include <vector>

#include "testing/memory_stream.h"

namespace velmarch {
namespace {

// The worked example's first frame: 2024-10-17 11:05:53.123, a Thursday.
constexpr double T0 = 1729163153.123;

CanRecord frame_of(double timestamp, uint32_t id, bool extended, bool tx,
                   const std::vector<unsigned char>& data) {
  CanRecord record;
  record.timestamp = timestamp;
  record.bus = 1;
  record.id = id;
  record.kind = CAN_RECORD_FRAME;
  record.extended = extended ? 1 : 0;
  record.tx = tx ? 1 : 0;
  record.data.append(data.data(), static_cast<int64_t>(data.size()));
  record.length = static_cast<uint8_t>(data.size());
  return record;
}

uint64_t get(const std::string& bytes, size_t at, int size) {
  uint64_t value = 0;
  for (int i = size - 1; i >= 0; --i) {
    value = value << 8 | static_cast<unsigned char>(bytes.at(at + static_cast<size_t>(i)));
  }
  return value;
}

std::vector<uint64_t> system_time(const std::string& file, size_t at) {
  std::vector<uint64_t> fields;
  for (size_t i = 0; i < 8; ++i) fields.push_back(get(file, at + 2 * i, 2));
  return fields;
}

// One CAN_MESSAGE object as the reader sees it.
struct Decoded {
  uint64_t nanoseconds;
  uint64_t channel, flags, dlc, id;
  std::string data;
};

// The objects of a file's containers, checking every container's framing on the way.
std::vector<Decoded> decode(const std::string& file, int* containers) {
  std::unique_ptr<libdeflate_decompressor, void (*)(libdeflate_decompressor*)> inflater(
      libdeflate_alloc_decompressor(), libdeflate_free_decompressor);
  std::vector<Decoded> frames;
  uint64_t uncompressed = 144;
  *containers = 0;
  size_t at = 144;
  while (at < file.size()) {
    SCOPED_TRACE(at);
    EXPECT_EQ(file.substr(at, 4), "LOBJ");
    EXPECT_EQ(get(file, at + 4, 2), 16u);
    EXPECT_EQ(get(file, at + 6, 2), 1u);
    size_t size = get(file, at + 8, 4);
    EXPECT_EQ(get(file, at + 12, 4), 10u);
    EXPECT_EQ(get(file, at + 16, 2), 2u);
    size_t inflated_size = get(file, at + 24, 4);
    EXPECT_LE(inflated_size, 128u * 1024);
    std::string inflated(inflated_size, '\0');
    size_t got = 0;
    EXPECT_EQ(libdeflate_zlib_decompress(inflater.get(), file.data() + at + 32, size - 32,
                                         inflated.data(), inflated_size, &got),
              LIBDEFLATE_SUCCESS);
    EXPECT_EQ(got, inflated_size);
    EXPECT_EQ(inflated_size % 48, 0u) << "an object split between containers";
    for (size_t o = 0; o + 48 <= got; o += 48) {
      EXPECT_EQ(inflated.substr(o, 4), "LOBJ");
      EXPECT_EQ(get(inflated, o + 4, 2), 32u);  // header size
      EXPECT_EQ(get(inflated, o + 6, 2), 1u);   // header version
      EXPECT_EQ(get(inflated, o + 8, 4), 48u);  // object size
      EXPECT_EQ(get(inflated, o + 12, 4), 1u);  // CAN_MESSAGE
      EXPECT_EQ(get(inflated, o + 16, 4), 2u);  // nanoseconds
      EXPECT_EQ(get(inflated, o + 20, 4), 0u);  // client index, object version
      frames.push_back({get(inflated, o + 24, 8), get(inflated, o + 32, 2),
                        get(inflated, o + 34, 1), get(inflated, o + 35, 1),
                        get(inflated, o + 36, 4), inflated.substr(o + 40, 8)});
    }
    uncompressed += 32 + inflated_size;
    ++*containers;
    at += size + size % 4;
  }
  EXPECT_EQ(at, file.size());
  EXPECT_EQ(get(file, 24, 8), uncompressed);
  return frames;
}

int64_t write_file(TraceSink& format, ByteStream& out, const std::vector<CanRecord>& frames) {
  EXPECT_TRUE(format.new_file(TraceFileInfo(), out, false));
  for (const CanRecord& record : frames) {
    if (!format.frame(record)) break;
  }
  return format.end_file();
}

TEST(BlfFormatTest, WorkedExampleDecodes) {
  auto format = blf_format_create();
  ASSERT_TRUE(format);
  EXPECT_EQ(format->extension(), StrView(".blf"));
  MemoryStream out;
  ASSERT_EQ(write_file(*format, out,
                       {frame_of(T0, 0x123, false, false,
                                 {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}),
                        frame_of(T0 + 0.012, 0x18FF1234, true, true, {0x01, 0x02, 0x03})}),
            2);
  const std::string& file = out.content();
  EXPECT_EQ(file.substr(0, 4), "LOGG");
  EXPECT_EQ(get(file, 4, 4), 144u);
  EXPECT_EQ(get(file, 8, 8), 0x0108060200000005u);  // application 5, format 2.6.8.1
  EXPECT_EQ(get(file, 16, 8), file.size());
  EXPECT_EQ(get(file, 32, 4), 2u);  // objects
  EXPECT_EQ(system_time(file, 40), (std::vector<uint64_t>{2024, 10, 4, 17, 11, 5, 53, 123}));
  EXPECT_EQ(system_time(file, 56), (std::vector<uint64_t>{2024, 10, 4, 17, 11, 5, 53, 135}));
  EXPECT_EQ(file.substr(72, 72), std::string(72, '\0'));

  int containers = 0;
  std::vector<Decoded> frames = decode(file, &containers);
  EXPECT_EQ(containers, 1);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].nanoseconds, 0u);
  EXPECT_EQ(frames[0].channel, 1u);
  EXPECT_EQ(frames[0].flags, 0u);
  EXPECT_EQ(frames[0].dlc, 8u);
  EXPECT_EQ(frames[0].id, 0x123u);
  EXPECT_EQ(frames[0].data, "\x11\x22\x33\x44\x55\x66\x77\x88");
  EXPECT_EQ(frames[1].nanoseconds, 12000000u);
  EXPECT_EQ(frames[1].channel, 1u);
  EXPECT_EQ(frames[1].flags, 1u);  // sent
  EXPECT_EQ(frames[1].dlc, 3u);
  EXPECT_EQ(frames[1].id, 0x98FF1234u);
  EXPECT_EQ(frames[1].data, std::string("\x01\x02\x03\0\0\0\0\0", 8));
}

TEST(BlfFormatTest, ManyFramesSpanContainersAndComeBackExactly) {
  std::vector<CanRecord> records;
  records.reserve(20000);
  uint64_t state = 7;
  for (int i = 0; i < 20000; ++i) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    auto r = static_cast<uint32_t>(state >> 33);
    std::vector<unsigned char> data(r % 9);
    for (size_t b = 0; b < data.size(); ++b) data[b] = static_cast<unsigned char>(r >> b);
    bool extended = (r & 0x100) != 0;
    CanRecord record = frame_of(T0 + i * 0.000731, extended ? r & 0x1FFFFFFF : r & 0x7FF, extended,
                                (r & 0x200) != 0, data);
    record.rtr = (r & 0x3C00) == 0 ? 1 : 0;
    records.push_back(record);
  }
  auto format = blf_format_create();
  MemoryStream out;
  ASSERT_EQ(write_file(*format, out, records), 20000);
  const std::string& file = out.content();
  EXPECT_EQ(get(file, 16, 8), file.size());
  EXPECT_EQ(get(file, 32, 4), 20000u);
  // The last frame, 14.619 s on.
  EXPECT_EQ(system_time(file, 56), (std::vector<uint64_t>{2024, 10, 4, 17, 11, 6, 7, 742}));

  int containers = 0;
  std::vector<Decoded> frames = decode(file, &containers);
  EXPECT_EQ(containers, 8);  // 2,730 frames each
  ASSERT_EQ(frames.size(), records.size());
  for (size_t i = 0; i < frames.size(); ++i) {
    SCOPED_TRACE(i);
    const CanRecord& record = records[i];
    std::string data(record.data.data(), static_cast<size_t>(record.data.size()));
    data.resize(8, '\0');
    EXPECT_EQ(frames[i].nanoseconds, i * 731000u);
    EXPECT_EQ(frames[i].flags, (record.tx != 0 ? 1u : 0u) | (record.rtr != 0 ? 0x80u : 0u));
    EXPECT_EQ(frames[i].dlc, record.length);
    EXPECT_EQ(frames[i].id, record.id | (record.extended != 0 ? 0x80000000u : 0u));
    EXPECT_EQ(frames[i].data, data);
    if (::testing::Test::HasFailure()) break;
  }
}

TEST(BlfFormatTest, EachFileIsTimedFromItsOwnFirstFrame) {
  auto first = blf_format_create();
  auto second = first->another();
  ASSERT_TRUE(second);
  for (TraceSink* format : {first.get(), second.get()}) {
    MemoryStream a;
    MemoryStream b;
    ASSERT_EQ(write_file(*format, a, {frame_of(T0, 1, false, false, {})}), 1);
    // The next file counts only its own objects; a frame earlier than its first goes at its
    // start, and one 30,000,000 s later still has every nanosecond.
    ASSERT_EQ(write_file(*format, b,
                         {frame_of(T0 + 0.8766, 2, false, false, {}),
                          frame_of(T0 + 0.5, 3, false, false, {}),
                          frame_of(T0 + 0.8766 + 3e7, 4, false, false, {})}),
              3);
    const std::string& file = b.content();
    EXPECT_EQ(get(file, 32, 4), 3u);
    // 53.9996 s rounds up into the next second.
    EXPECT_EQ(system_time(file, 40), (std::vector<uint64_t>{2024, 10, 4, 17, 11, 5, 54, 0}));
    EXPECT_EQ(system_time(file, 56), (std::vector<uint64_t>{2025, 9, 1, 29, 16, 25, 54, 0}));
    int containers = 0;
    std::vector<Decoded> frames = decode(file, &containers);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].id, 2u);
    EXPECT_EQ(frames[0].nanoseconds, 0u);
    EXPECT_EQ(frames[1].nanoseconds, 0u);
    EXPECT_EQ(frames[2].nanoseconds, 30000000000000000u);
  }
}

TEST(BlfFormatTest, WithoutFramesNothingIsWritten) {
  auto format = blf_format_create();
  MemoryStream out;
  CanRecord other = frame_of(T0, 1, false, false, {1});
  other.kind = 0;  // not a frame: skipped
  EXPECT_EQ(write_file(*format, out, {other}), 0);
  EXPECT_EQ(write_file(*format, out, {}), 0);
  EXPECT_TRUE(out.content().empty());
  EXPECT_EQ(out.seeks, 0);
}

// A stream that takes writes but cannot seek back to the header, as a pipe.
class WriteOnlyStream final : public ByteStream {
 public:
  IoResult write(const void* source, uint64_t count) override {
    content_.append(static_cast<const char*>(source), count);
    return static_cast<int64_t>(count);
  }
  const std::string& content() const { return content_; }

 private:
  std::string content_;
};

TEST(BlfFormatTest, FailedWritesAnswerMinusOneAndSaySo) {
  std::vector<CanRecord> frames;
  frames.reserve(3000);
  for (int i = 0; i < 3000; ++i) frames.push_back(frame_of(T0 + i, 5, false, false, {1, 2}));
  MemoryStream whole;
  ASSERT_EQ(write_file(*blf_format_create(), whole, frames), 3000);
  // Every byte once, then the header again.
  auto size = static_cast<int64_t>(whole.content().size());
  ASSERT_GT(size, 2 * 144);
  // Short in the header, the first container (written at frame 2,730), the last one, the
  // header's rewrite.
  for (int64_t budget : {int64_t{0}, int64_t{143}, int64_t{150}, size - 1, size, size + 143}) {
    SCOPED_TRACE(budget);
    auto format = blf_format_create();
    MemoryStream out;
    out.write_budget = budget;
    testing::internal::CaptureStderr();
    EXPECT_EQ(write_file(*format, out, frames), -1);
    std::string log = testing::internal::GetCapturedStderr();
    size_t first = log.find("Could not write CAN data");
    EXPECT_NE(first, std::string::npos) << log;
    EXPECT_EQ(log.find("Could not write CAN data", first + 1), std::string::npos) << log;
  }
  MemoryStream enough;
  enough.write_budget = size + 144;
  EXPECT_EQ(write_file(*blf_format_create(), enough, frames), 3000);
  EXPECT_EQ(enough.content(), whole.content());

}

// On a pipe the header cannot be filled in at the end: it keeps the start time and leaves the
// sizes, the object count and the end time as they were at the first frame.
TEST(BlfFormatTest, AnOutputThatCannotSeekKeepsTheFirstHeader) {
  std::vector<CanRecord> frames(10);
  for (int i = 0; i < 10; ++i) frames[i] = frame_of(T0 + i, 5, false, false, {1, 2});
  MemoryStream whole;
  ASSERT_EQ(write_file(*blf_format_create(), whole, frames), 10);
  WriteOnlyStream unseekable;
  ASSERT_EQ(write_file(*blf_format_create(), unseekable, frames), 10);
  std::string piped = unseekable.content();
  ASSERT_EQ(piped.size(), whole.content().size());
  EXPECT_EQ(piped.substr(144), whole.content().substr(144));  // the same objects
  std::string header = whole.content().substr(0, 144);
  header.replace(16, 8, std::string(8, '\0'));                // no file size
  header.replace(24, 8, std::string("\x90\0\0\0\0\0\0\0", 8));  // the header's own
  header.replace(32, 4, std::string(4, '\0'));                // no object count
  header.replace(56, 16, header.substr(40, 16));              // ends when it starts
  EXPECT_EQ(piped.substr(0, 144), header);
}

}  // namespace
}  // namespace velmarch
