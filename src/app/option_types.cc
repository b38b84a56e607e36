#include "app/option_types.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace velmarch {

namespace {

// A check's own codes sit above argtable's, which are small numbers, so that the error printer
// tells the two apart: the check's code is moved up by this many bits and back down for its
// error callback.
constexpr int CHECK_CODE_SHIFT = 8;

// The offset of the value slots that follow an option in its one allocation.
template <typename Option>
Option* allocate_option(int max_count, int arrays) {
  size_t bytes = sizeof(Option) + sizeof(const char*) * static_cast<size_t>(max_count) * arrays;
  return static_cast<Option*>(std::calloc(1, bytes));
}

template <typename Option>
void fill_header(Option* option, const char* short_names, const char* long_names,
                 const char* data_type, int min_count, int max_count, const char* glossary,
                 arg_resetfn* reset, arg_scanfn* scan, arg_checkfn* check, arg_errorfn* error) {
  option->hdr.flag = ARG_HASVALUE;
  option->hdr.shortopts = short_names;
  option->hdr.longopts = long_names;
  option->hdr.datatype = data_type;
  option->hdr.glossary = glossary;
  option->hdr.mincount = min_count;
  option->hdr.maxcount = max_count;
  option->hdr.parent = option;
  option->hdr.resetfn = reset;
  option->hdr.scanfn = scan;
  option->hdr.checkfn = check;
  option->hdr.errorfn = error;
  option->hdr.priv = nullptr;
  option->count = 0;
}

template <typename Option>
int check_option(void* parent) {
  auto* option = static_cast<Option*>(parent);
  if (option->count < option->hdr.mincount) return OPTION_EMINCOUNT;
  return option->check != nullptr ? option->check(option, option->user) << CHECK_CODE_SHIFT : 0;
}

template <typename Option>
void print_option_error(void* parent, FILE* out, int code, const char* value,
                        const char* program) {
  auto* option = static_cast<Option*>(parent);
  std::fprintf(out, "%s: ", program);
  const char* short_names = option->hdr.shortopts;
  const char* long_names = option->hdr.longopts;
  if (code == OPTION_EMINCOUNT) {
    std::fputs("missing option ", out);
    arg_print_option(out, short_names, long_names, option->hdr.datatype, "\n");
  } else if (code == OPTION_EMAXCOUNT) {
    std::fputs("excess option ", out);
    arg_print_option(out, short_names, long_names, value != nullptr ? value : "", "\n");
  } else if (option->error != nullptr) {
    option->error(option, option->user, out, code >> CHECK_CODE_SHIFT, value, program);
  }
}

void reset_string(void* parent) { static_cast<ValidatedStringArg*>(parent)->count = 0; }

int scan_string(void* parent, const char* value) {
  auto* option = static_cast<ValidatedStringArg*>(parent);
  if (option->count == option->hdr.maxcount) return OPTION_EMAXCOUNT;
  if (value != nullptr) option->sval[option->count] = value;
  ++option->count;
  return 0;
}

void reset_path(void* parent) { static_cast<PathListArg*>(parent)->count = 0; }

// The file name after the last "/"; "." and ".." have none.
const char* base_name(const char* path) {
  const char* slash = std::strrchr(path, '/');
  const char* name = slash != nullptr ? slash + 1 : path;
  if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return "";
  return name;
}

// From the last "." of the base name; none when it is the first or the last character.
const char* extension_of(const char* name) {
  const char* dot = std::strrchr(name, '.');
  if (dot == nullptr || dot == name || dot[1] == '\0') return "";
  return dot;
}

int scan_path(void* parent, const char* value) {
  auto* option = static_cast<PathListArg*>(parent);
  if (option->count == option->hdr.maxcount) return OPTION_EMAXCOUNT;
  if (value != nullptr) {
    option->filename[option->count] = value;
    option->basename[option->count] = base_name(value);
    option->extension[option->count] = extension_of(option->basename[option->count]);
  }
  ++option->count;
  return 0;
}

}  // namespace

ValidatedStringArg* validated_string_arg(const char* short_names, const char* long_names,
                                         const char* data_type, int min_count, int max_count,
                                         const char* glossary, OptionCheck check,
                                         OptionError error, void* user) {
  max_count = std::max(max_count, min_count);
  auto* option = allocate_option<ValidatedStringArg>(max_count, 1);
  if (option == nullptr) return nullptr;
  fill_header(option, short_names, long_names, data_type != nullptr ? data_type : "<string>",
              min_count, max_count, glossary, reset_string, scan_string,
              check_option<ValidatedStringArg>, print_option_error<ValidatedStringArg>);
  option->sval = reinterpret_cast<const char**>(option + 1);
  for (int i = 0; i < max_count; ++i) option->sval[i] = "";
  option->check = check;
  option->error = error;
  option->user = user;
  return option;
}

PathListArg* path_list_arg(const char* short_names, const char* long_names,
                           const char* data_type, int min_count, int max_count,
                           const char* glossary, OptionCheck check, OptionError error,
                           void* user) {
  max_count = std::max(max_count, min_count);
  auto* option = allocate_option<PathListArg>(max_count, 3);
  if (option == nullptr) return nullptr;
  fill_header(option, short_names, long_names, data_type != nullptr ? data_type : "<file>",
              min_count, max_count, glossary, reset_path, scan_path, check_option<PathListArg>,
              print_option_error<PathListArg>);
  option->filename = reinterpret_cast<const char**>(option + 1);
  option->basename = option->filename + max_count;
  option->extension = option->basename + max_count;
  for (int i = 0; i < max_count; ++i) {
    option->filename[i] = "";
    option->basename[i] = "";
    option->extension[i] = "";
  }
  option->check = check;
  option->error = error;
  option->user = user;
  return option;
}

}  // namespace velmarch
