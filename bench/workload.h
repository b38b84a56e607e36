#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace velmarch_bench {

enum class TimeStyle {
  clock,  // time format 3: "hh:mm:ss.mmm", completed from the header's date
  full,   // time format 0: every one of the 17 digits, year first
};

/// Writes a valid text log of `frames` frames: the full header block, separator ";", the
/// columns Timestamp;Type;ID;Length;Data, a mix of 11- and 29-bit identifiers, received and
/// sent frames, 0 to 8 data bytes and times that never run backwards. The same seed gives the
/// same bytes. A later split of a session goes on in time where the ones before it ended (at
/// most 3 ms a frame). Answers false when the output could not be written.
bool write_workload(std::FILE* out, uint64_t frames, TimeStyle style, uint32_t seed,
                    uint32_t session = 1, uint32_t split = 1);

}  // namespace velmarch_bench
