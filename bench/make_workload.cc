// Writes benchmark inputs:
//   velmarch_workload FRAMES clock|full [SEED]        one text log on standard output
//   velmarch_workload --tree FOLDER FILES FRAMES [SPLITS]
//                                                     FILES logs, 100 to a folder; each its own
//                                                     recording, or recordings of SPLITS splits
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "bench/workload.h"

namespace {

int usage() {
  std::fputs("usage: velmarch_workload FRAMES clock|full [SEED]\n"
             "       velmarch_workload --tree FOLDER FILES FRAMES [SPLITS]\n",
             stderr);
  return 2;
}

bool parse_count(const char* text, uint64_t& value) {
  char* end = nullptr;
  value = std::strtoull(text, &end, 10);
  return end != text && *end == '\0';
}

int write_tree(const std::string& folder, uint64_t files, uint64_t frames, uint64_t splits) {
  std::error_code error;
  for (uint64_t i = 0; i < files; ++i) {
    std::string sub = folder + "/d" + std::to_string(i / 100);
    if (i % 100 == 0) std::filesystem::create_directories(sub, error);
    // Numbered as a logger numbers them: the walk's order is theirs.
    char number[16];
    std::snprintf(number, sizeof number, "%05llu", static_cast<unsigned long long>(i));
    std::string name = sub + "/log" + number + ".txt";
    std::FILE* out = std::fopen(name.c_str(), "wb");
    // Sessions of `splits` files, numbered from 1, so none is skipped as a repeat.
    bool ok = out != nullptr && velmarch_bench::write_workload(
                                    out, frames, velmarch_bench::TimeStyle::clock,
                                    static_cast<uint32_t>(i), static_cast<uint32_t>(i / splits + 1),
                                    static_cast<uint32_t>(i % splits + 1));
    if (out != nullptr && std::fclose(out) != 0) ok = false;
    if (!ok) {
      std::fprintf(stderr, "velmarch_workload: could not write %s\n", name.c_str());
      return 1;
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t files, frames;
  if ((argc == 5 || argc == 6) && std::strcmp(argv[1], "--tree") == 0) {
    uint64_t splits = 1;
    if (!parse_count(argv[3], files) || !parse_count(argv[4], frames) ||
        (argc == 6 && (!parse_count(argv[5], splits) || splits == 0))) {
      return usage();
    }
    return write_tree(argv[2], files, frames, splits);
  }
  if (argc < 3 || argc > 4 || !parse_count(argv[1], frames)) return usage();
  velmarch_bench::TimeStyle style;
  if (std::strcmp(argv[2], "clock") == 0) {
    style = velmarch_bench::TimeStyle::clock;
  } else if (std::strcmp(argv[2], "full") == 0) {
    style = velmarch_bench::TimeStyle::full;
  } else {
    return usage();
  }
  uint64_t seed = 1;
  if (argc == 4 && !parse_count(argv[3], seed)) return usage();
  static char buffer[1 << 16];
  std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
  if (!velmarch_bench::write_workload(stdout, frames, style, static_cast<uint32_t>(seed))) {
    std::fputs("velmarch_workload: could not write the output\n", stderr);
    return 1;
  }
  return 0;
}
