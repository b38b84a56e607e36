#pragma once

// Helpers shared by the fuzz targets. A failed check aborts, which libFuzzer reports as a
// crash with the input that caused it.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#define FUZZ_CHECK(condition)                                                    \
  do {                                                                           \
    if (!(condition)) {                                                          \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                              \
    }                                                                            \
  } while (0)

namespace fuzz {

/// The input cut at every NUL byte; at most limit pieces, the rest is dropped.
inline std::vector<std::string> split_at_nul(const uint8_t* data, size_t size, size_t limit) {
  std::vector<std::string> pieces(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] != 0) {
      pieces.back() += static_cast<char>(data[i]);
    } else if (pieces.size() == limit) {
      break;
    } else {
      pieces.emplace_back();
    }
  }
  return pieces;
}

/// Makes a small tree in a fresh temporary folder and changes into it, so that relative paths
/// meet files and folders: a.txt, b.TXT, logs/, logs/c.txt, logs/deep/d.txt, out/. The tree
/// is removed at exit.
void enter_scratch_tree();

}  // namespace fuzz
