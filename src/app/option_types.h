#pragma once

#include <argtable2.h>

#include <cstdio>

namespace velmarch {

/// Validates an option after argtable scanned the arguments: 0 for no error, else a code that
/// the error callback receives.
using OptionCheck = int (*)(void* option, void* user);
/// Writes the rest of the error line for a code the check returned.
using OptionError = void (*)(void* option, void* user, FILE* out, int code, const char* value,
                             const char* program);

// Codes of our own option types, as argtable's own types number them.
inline constexpr int OPTION_EMINCOUNT = 1;
inline constexpr int OPTION_EMAXCOUNT = 2;

/// argtable's string option followed by a check, an error callback and their user pointer.
/// Allocated in one block with its value slots, since arg_freetable frees it with free().
struct ValidatedStringArg {
  struct arg_hdr hdr;
  int count;
  const char** sval;
  OptionCheck check;
  OptionError error;
  void* user;
};

/// argtable's file option followed by the same three members.
struct PathListArg {
  struct arg_hdr hdr;
  int count;
  const char** filename;
  const char** basename;
  const char** extension;
  OptionCheck check;
  OptionError error;
  void* user;
};

/// Null when memory runs out. A missing data type shows as "<string>".
ValidatedStringArg* validated_string_arg(const char* short_names, const char* long_names,
                                         const char* data_type, int min_count, int max_count,
                                         const char* glossary, OptionCheck check,
                                         OptionError error, void* user);
/// Null when memory runs out. A missing data type shows as "<file>".
PathListArg* path_list_arg(const char* short_names, const char* long_names,
                           const char* data_type, int min_count, int max_count,
                           const char* glossary, OptionCheck check, OptionError error,
                           void* user);

}  // namespace velmarch
