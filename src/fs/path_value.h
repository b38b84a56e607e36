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
/// The text with up to budget occurrences of pattern replaced, left to right and never
/// overlapping (a budget of 0 or less: all of them); an empty pattern replaces nothing. Empty
/// when memory runs out.
SmallString string_replace(StrView text, StrView pattern, StrView replacement, int32_t budget);

/// The text after the last "/" (all of it without one). Views into path; an empty answer views
/// a static empty text.
StrView path_file_name(StrView path);
/// The text of the file name after its last "." (the whole name without one).
StrView path_extension(StrView path);
/// The text up to and including the last "/"; empty without one.
StrView path_directory_part(StrView path);

}  // namespace velmarch
