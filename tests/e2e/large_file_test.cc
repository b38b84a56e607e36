// An input of more than 2 GiB converts whole: every line of the trace is compared with the one
// expected for the frame generated. Not part of the default run (see doc/RELIABILITY.md, "Large files").

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "e2e_harness.h"

namespace e2e {
namespace {

constexpr long long kTargetBytes = (1LL << 31) + (64LL << 20);  // 2 GiB and 64 MiB

struct Frame {
  long long ms;  // since the first frame
  bool extended;
  bool tx;
  unsigned id;
  int length;
};

Frame frame_at(long long i, long long ms) {
  Frame f{ms, i % 5 == 0, i % 7 == 0, 0, static_cast<int>(i % 9)};
  f.id = f.extended ? static_cast<unsigned>((i * 2654435761LL) & 0x1FFFFFFF)
                    : static_cast<unsigned>(0x100 + i % 0x700);
  return f;
}

unsigned char byte_of(long long i, int k) {
  return static_cast<unsigned char>((i * 31 + k) & 0xFF);
}

// 11:05:53.123 plus the frame's offset, on the logger's 24-hour clock.
int text_line(char* out, long long i, const Frame& f) {
  long long clock = (11 * 3600 + 5 * 60 + 53) * 1000LL + 123 + f.ms;
  char data[17] = {};
  for (int k = 0; k < f.length; ++k) std::snprintf(data + 2 * k, 3, "%02X", byte_of(i, k));
  return std::snprintf(out, 96, "%02lld:%02lld:%02lld.%03lld;%d;%X;%d;%s\n", clock / 3600000 % 24,
                       clock / 60000 % 60, clock / 1000 % 60, clock % 1000,
                       (f.extended ? 1 : 0) | (f.tx ? 8 : 0), f.id, f.length, data);
}

int trace_line(char* out, long long i, const Frame& f) {
  int n = std::snprintf(
      out, 128,
      f.extended ? "%7lld %13.3f DT 1 %08X %s %d    " : "%7lld %13.3f DT 1     %04X %s %d    ",
      i + 1, static_cast<double>(f.ms), f.id, f.tx ? "Tx" : "Rx", f.length);
  for (int k = 0; k < f.length; ++k)
    n += std::snprintf(out + n, 8, k ? " %02X" : "%02X", byte_of(i, k));
  out[n++] = '\n';
  out[n] = '\0';
  return n;
}

long long step(long long i) { return 1 + i % 3; }

using LargeFile = Scratch;

TEST_F(LargeFile, MoreThanTwoGibibytesConvertWhole) {
  time_limit_ = 3600;
  FILE* log = std::fopen(path("big.txt").c_str(), "wb");
  ASSERT_NE(log, nullptr);
  std::string header = text_log(1, 1, {});
  std::fwrite(header.data(), 1, header.size(), log);
  long long bytes = static_cast<long long>(header.size());
  long long frames = 0;
  char line[128];
  for (long long ms = 0; bytes < kTargetBytes; ms += step(frames), ++frames) {
    int n = text_line(line, frames, frame_at(frames, ms));
    std::fwrite(line, 1, static_cast<size_t>(n), log);
    bytes += n;
  }
  ASSERT_EQ(std::fclose(log), 0);

  auto started = std::chrono::steady_clock::now();
  RunResult result = run({"-d", "big.txt"});
  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(result.raw_err.empty()) << result.raw_err;
  EXPECT_FALSE(exists("big.txt"));

  FILE* trace = std::fopen(path("big.trc").c_str(), "rb");
  ASSERT_NE(trace, nullptr);
  char got[256];
  for (int i = 0; i < 3; ++i) ASSERT_NE(std::fgets(got, sizeof got, trace), nullptr);
  EXPECT_STREQ(got, ";$COLUMNS=N,O,T,B,I,d,L,D\n");
  long long trace_bytes = 0;
  long long mismatches = 0;
  long long i = 0;
  for (long long ms = 0; i < frames && std::fgets(got, sizeof got, trace); ms += step(i), ++i) {
    int n = trace_line(line, i, frame_at(i, ms));
    trace_bytes += n;
    if (std::strcmp(got, line) != 0 && mismatches++ < 5) {
      ADD_FAILURE() << "frame " << i + 1 << ": " << got << "expected " << line;
    }
  }
  EXPECT_EQ(i, frames);
  EXPECT_EQ(std::fgets(got, sizeof got, trace), nullptr);  // nothing after the last frame
  std::fclose(trace);
  EXPECT_EQ(mismatches, 0);
  std::printf("input %lld bytes, %lld frames, trace %lld bytes, converted in %.1f s\n", bytes,
              frames, trace_bytes, seconds);
}

}  // namespace
}  // namespace e2e
