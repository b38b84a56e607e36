#pragma once

#include <cstdint>
#include <vector>

#include "base/exit_status.h"
#include "base/small_string.h"
#include "fs/path_value.h"

namespace velmarch {

using StringList = std::vector<SmallString>;

/// The inputs of a run and the folder that holds them all.
struct InputSet {
  PathValue common_root;  // ends in "/" once found
  StringList inputs;      // in command-line order; relative to common_root once it is found
};

/// What normalize_path_option answers when memory ran out; the command line reports it.
inline constexpr int32_t PATH_OPTION_NO_MEMORY = 3;

/// Normalises every value and appends it to destination; PATH_OPTION_NO_MEMORY when memory ran
/// out, else 0.
int32_t normalize_path_option(int count, const char* const* values, StringList& destination);

/// Adds the paths of a list, one per line (a CR before the line feed is dropped) or ended by
/// separator, normalised, to the inputs: empty entries, and paths already among the inputs,
/// are left out. Answers how many were left out as repeats; PATH_OPTION_NO_MEMORY in *code
/// when memory ran out.
int64_t add_listed_inputs(StrView list, char separator, StringList& inputs, int32_t* code);

/// Finds the one folder that holds every input, stores it as the common root and makes the
/// inputs relative to it. On failure sets *status to EXIT_NO_COMMON_ROOT and answers false.
bool find_common_root(InputSet& set, ExitStatus* status);

}  // namespace velmarch
