#pragma once

#include <cstdint>

#include "base/small_string.h"

namespace velmarch {

/// A path in normal form: "/" as the only separator, folders ending in "/".
using PathValue = SmallString;

/// Brings a user-given path into normal form, in place.
void path_normalize(PathValue& path);
/// Reads the process's current directory, "\" turned into "/"; false (output empty) on failure.
bool current_directory(PathValue& out);
/// The text with up to budget occurrences of pattern replaced (budget 0: all of them).
SmallString string_replace(StrView text, StrView pattern, StrView replacement, int32_t budget);

StrView path_file_name(StrView path);
StrView path_extension(StrView path);
StrView path_directory_part(StrView path);

}  // namespace velmarch
