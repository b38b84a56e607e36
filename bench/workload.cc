#include "bench/workload.h"

#include <cinttypes>

namespace velmarch_bench {

namespace {

// A small, fast generator: the workload only needs to look varied, and be the same each run.
struct Random {
  uint64_t state;
  uint32_t next() {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<uint32_t>(state >> 33);
  }
  uint32_t below(uint32_t limit) { return next() % limit; }
};

constexpr int64_t start_ms = (11 * 3600 + 5 * 60 + 53) * 1000LL;  // the header's 11:05:53

}  // namespace

bool write_workload(std::FILE* out, uint64_t frames, TimeStyle style, uint32_t seed,
                    uint32_t session, uint32_t split) {
  std::fprintf(out,
               "# Logger type: TarvikB\n"
               "# HW rev: 3.2\n"
               "# FW rev: 5.10\n"
               "# Logger ID: 4A2B0C11\n"
               "# Session No.: %" PRIu32 "\n"
               "# Split No.: %" PRIu32 "\n"
               "# Time: 20241017T110553\n"
               "# Value separator: \";\"\n"
               "# Time format: %d\n"
               "# Time separator: \":\"\n"
               "# Time separator ms: \".\"\n"
               "# Date separator: \"/\"\n"
               "# Time and date separator: \"T\"\n"
               "# Bit-rate: 500000\n"
               "# Silent mode: false\n"
               "# Cyclic mode: false\n"
               "Timestamp;Type;ID;Length;Data\n",
               session, split, style == TimeStyle::clock ? 3 : 0);
  Random random{seed * 2654435761ULL + 1};
  static const char hex[] = "0123456789ABCDEF";
  int64_t ms = start_ms + static_cast<int64_t>(split - 1) * static_cast<int64_t>(frames) * 3;
  char line[96];
  for (uint64_t i = 0; i < frames; ++i) {
    ms += random.below(4);  // 0 to 3 ms apart; equal times are allowed
    int64_t day_ms = ms % 86400000;
    int hour = static_cast<int>(day_ms / 3600000);
    int minute = static_cast<int>(day_ms / 60000 % 60);
    int second = static_cast<int>(day_ms / 1000 % 60);
    int milli = static_cast<int>(day_ms % 1000);
    bool extended = random.below(10) < 3;
    bool sent = random.below(8) == 0;
    uint32_t id = extended ? random.next() & 0x1FFFFFFF : random.below(0x800);
    uint32_t length = random.below(3) == 0 ? random.below(8) : 8;
    int type = (extended ? 1 : 0) + (sent ? 8 : 0);
    int n;
    if (style == TimeStyle::clock) {
      n = std::snprintf(line, sizeof line, "%02d:%02d:%02d.%03d;%d;%" PRIX32 ";%" PRIu32 ";",
                        hour, minute, second, milli, type, id, length);
    } else {
      int day = 17 + static_cast<int>(ms / 86400000);
      n = std::snprintf(line, sizeof line,
                        "202410%02d%02d%02d%02d%03d;%d;%" PRIX32 ";%" PRIu32 ";", day, hour,
                        minute, second, milli, type, id, length);
    }
    for (uint32_t b = 0; b < length; ++b) {
      uint32_t byte = random.below(256);
      line[n++] = hex[byte >> 4];
      line[n++] = hex[byte & 15];
    }
    line[n++] = '\n';
    if (std::fwrite(line, 1, static_cast<size_t>(n), out) != static_cast<size_t>(n)) return false;
  }
  return std::fflush(out) == 0 && !std::ferror(out);
}

}  // namespace velmarch_bench
