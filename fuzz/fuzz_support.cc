#include "fuzz_support.h"

#include <filesystem>
#include <fstream>

namespace fuzz {

namespace {

std::string scratch;

void remove_scratch() {
  std::error_code ignored;
  std::filesystem::current_path("/", ignored);
  if (!scratch.empty()) std::filesystem::remove_all(scratch, ignored);
}

}  // namespace

void enter_scratch_tree() {
  char pattern[] = "/tmp/velmarch-fuzz-XXXXXX";
  if (mkdtemp(pattern) == nullptr) std::abort();
  scratch = pattern;
  namespace fs = std::filesystem;
  fs::create_directories(scratch + "/logs/deep");
  fs::create_directories(scratch + "/out");
  for (const char* file : {"a.txt", "b.TXT", "logs/c.txt", "logs/deep/d.txt"}) {
    std::ofstream(scratch + "/" + file) << "# Session No.: 1\n";
  }
  fs::current_path(scratch);
  std::atexit(remove_scratch);
}

}  // namespace fuzz
