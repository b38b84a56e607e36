#include <argtable2.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "base/exit_status.h"
#include "app/option_types.h"
#include "app/tool_settings.h"
#include "app/version.h"
#include "diag/log.h"
#include "fs/path_value.h"
#include "platform/platform.h"
#include "stream/file_stream.h"

namespace velmarch {

namespace {

constexpr int MAX_ERRORS = 20;

// The option objects whose values the settings are filled from.
struct OptionRows {
  struct arg_lit* help;
  struct arg_lit* version;
  struct arg_int* verbosity;
  struct arg_lit* non_interactive;
  struct arg_lit* delete_converted;
  struct arg_lit* no_append_root;
  struct arg_int* buffer;
  struct arg_int* jobs;
  struct arg_lit* merge_splits;
  PathListArg* output_directory;
  PathListArg* report;
  struct arg_str* files_from;
  struct arg_lit* null_separated;
  struct arg_lit* input_files;
  PathListArg* inputs;
  struct arg_end* end;
};

int check_path_option(void* option, void* list) {
  auto* paths = static_cast<PathListArg*>(option);
  return normalize_path_option(paths->count, paths->filename, *static_cast<StringList*>(list));
}

void report_path_error(void* /*option*/, void* /*list*/, FILE* out, int code,
                       const char* /*value*/, const char* /*program*/) {
  if (code == PATH_OPTION_NO_MEMORY) std::fputs("internal error, could not allocate memory", out);
}

// Codes of the first error that decide the exit status without printing anything.
constexpr int ERROR_BAD_VALUE = 3;      // a bad integer, or an argument that no option takes
constexpr int ERROR_MISSING_VALUE = 5;  // an option without its value

// glibc's getopt reports "--flag=value" on an option that takes no value by the option's table
// index instead of an error code. Report it as an unknown option with the argument itself, the
// way argtable3 does.
void name_flags_given_values(struct arg_end* end, const OptionTable& table, int argc,
                             char** argv) {
  std::vector<bool> taken(static_cast<size_t>(std::max(argc, 0)), false);
  for (int e = 0; e < end->count; ++e) {
    int code = end->error[e];
    if (end->parent[e] != end || end->argval[e] != nullptr) continue;
    if (code == ARG_ELIMIT && e == MAX_ERRORS - 1) continue;  // the real "too many errors"
    if (code < 0 || code >= static_cast<int>(table.size())) continue;
    const auto* header = static_cast<const struct arg_hdr*>(table[code]);
    if (header->longopts == nullptr || (header->flag & ARG_HASVALUE) != 0) continue;
    for (int i = 1; i < argc; ++i) {
      const char* argument = argv[i];
      const char* equals = std::strchr(argument, '=');
      if (taken[i] || std::strncmp(argument, "--", 2) != 0 || equals == nullptr) continue;
      size_t name_length = static_cast<size_t>(equals - argument) - 2;
      if (name_length == 0 || std::strncmp(header->longopts, argument + 2, name_length) != 0) {
        continue;
      }
      taken[i] = true;
      end->error[e] = ARG_ELONGOPT;
      end->argval[e] = argument;
      break;
    }
  }
}

// How the user wrote an option: "--name", "-n", or what the inputs are.
std::string option_name(const struct arg_hdr* option) {
  if (option->longopts != nullptr && option->longopts[0] != '\0') {
    return std::string("--") + option->longopts;
  }
  if (option->shortopts != nullptr && option->shortopts[0] != '\0') {
    return std::string("-") + option->shortopts[0];
  }
  return "the input files/folders";
}

// One line on what the first option error was, for standard error: argtable's own words go to
// standard output for some errors and nowhere for others, and a script's log must tell why.
std::string describe_first_error(const OptionRows& rows) {
  const struct arg_end* end = rows.end;
  int code = end->error[0];
  const char* value = end->argval[0] != nullptr ? end->argval[0] : "";
  const auto* option = static_cast<const struct arg_hdr*>(end->parent[0]);
  char text[512];
  if (option == &end->hdr || option == nullptr) {
    switch (code) {
      case ARG_ELIMIT: return "Too many errors in the command line";
      case ARG_EMALLOC: return "Out of memory while reading the command line";
      case ARG_ENOMATCH:
        std::snprintf(text, sizeof text, "Unexpected argument \"%s\"", value);
        return text;
      case ARG_ELONGOPT:
        std::snprintf(text, sizeof text, "Unknown option \"%s\": see velmarch --help", value);
        return text;
      case ARG_EMISSARG:
        std::snprintf(text, sizeof text, "Option \"%s\" needs a value", value);
        return text;
      default:
        std::snprintf(text, sizeof text, "Unknown option \"-%c\": see velmarch --help", code);
        return text;
    }
  }
  std::string name = option_name(option);
  if (code == 1) {  // too few: only the inputs are required
    return option == &rows.inputs->hdr ? "No input file or folder given"
                                       : "Option " + name + " is required";
  }
  if (code == 2) return "Option " + name + " given more than once";
  bool integer = option->scanfn == rows.jobs->hdr.scanfn;  // argtable's integer option
  if (integer && code == 3) {
    std::snprintf(text, sizeof text,
                  "Invalid value \"%s\" for %s: expected an integer such as 4096, 0x1000 or 4KB",
                  value, name.c_str());
    return text;
  }
  if (integer && code == 4) {
    std::snprintf(text, sizeof text, "Value \"%s\" for %s is too large", value, name.c_str());
    return text;
  }
  bool path = option == &rows.output_directory->hdr || option == &rows.report->hdr ||
              option == &rows.inputs->hdr;
  if (path) return "Out of memory while reading the paths of " + name;
  // Our checked string options answer codes above 255; their value is the first one given.
  if (code > 255) {
    const auto* checked = reinterpret_cast<const ValidatedStringArg*>(option);
    if (checked->count > 0) value = checked->sval[0];
  }
  std::snprintf(text, sizeof text, "Invalid value \"%s\" for %s: expected %s", value,
                name.c_str(), option->datatype != nullptr ? option->datatype : "another value");
  return text;
}

void print_usage(const OptionTable& table) {
  void** entries = const_cast<void**>(table.data());
  std::fputs("Usage: velmarch", stdout);
  arg_print_syntax(stdout, entries, "\n\n");
  arg_print_glossary(stdout, entries, "  %-40s %s\n");
}

// Verbosity 0 to 5 onto the output level; 0 for a value out of range.
int output_level_for(int verbosity) {
  static const int levels[] = {LOG_FATAL, LOG_ERROR, LOG_WARN, LOG_INFO, LOG_VERBOSE, LOG_VERBOSE};
  return verbosity >= 0 && verbosity <= 5 ? levels[verbosity] : 0;
}

// The whole of a stream; false when it could not be read to its end.
bool read_all(ByteStream& in, std::string& text, int* error) {
  char block[64 << 10];
  for (;;) {
    IoResult got = byte_stream_read(in, block, sizeof block);
    if (!got.ok()) {
      *error = got.error();
      return false;
    }
    if (got.value() == 0) return true;
    text.append(block, static_cast<size_t>(got.value()));
  }
}

// --files-from: the list's paths join the inputs, as if given on the command line.
bool add_input_list(ToolSettings& settings, const char* list, char separator,
                    ExitStatus* status) {
  bool standard_input = std::strcmp(list, "-") == 0;
  std::unique_ptr<ByteStream> in;
  int error = 0;
  if (standard_input) {
    in = file_stream_standard(FILE_STREAM_READ);
  } else {
    Result<std::unique_ptr<ByteStream>> opened = file_stream_open(list, FILE_STREAM_READ);
    error = opened.error();
    if (opened.ok()) in = std::move(opened).value();
  }
  std::string text;
  if (!in || !read_all(*in, text, &error)) {
    DIAG_FAILURE(LOG_FATAL, error, "Could not read the input list %s",
                 standard_input ? "on standard input" : list);
    *status = EXIT_COMMAND_LINE;
    return false;
  }
  int32_t code = 0;
  int64_t repeats = add_listed_inputs(text, separator, settings.input_set.inputs, &code);
  if (code != 0) {
    DIAG(LOG_FATAL, "Out of memory while reading the input list");
    *status = EXIT_INTERNAL;
    return false;
  }
  if (repeats > 0) {
    DIAG(LOG_DEBUG, "Left out %lld repeated path%s of the input list",
         static_cast<long long>(repeats), repeats == 1 ? "" : "s");
  }
  return true;
}

// Whether "-" is among the inputs, as the user wrote them.
bool standard_input_named(const OptionRows& rows) {
  for (int i = 0; i < rows.inputs->count; ++i) {
    if (std::strcmp(rows.inputs->filename[i], "-") == 0) return true;
  }
  return false;
}

// "-": standard input to standard output, alone. Deleting inputs, output folders, joined splits
// and input lists all need files.
bool settle_standard_streams(ToolSettings& settings, const OptionRows& rows,
                             ExitStatus* status) {
  const char* conflict = rows.inputs->count > 1                 ? "another input"
                         : rows.files_from->count > 0           ? "--files-from"
                         : rows.delete_converted->count > 0     ? "-d"
                         : rows.output_directory->count > 0     ? "-O"
                         : rows.no_append_root->count > 0       ? "-X"
                         : rows.merge_splits->count > 0         ? "-m"
                                                                : nullptr;
  if (conflict != nullptr) {
    DIAG(LOG_FATAL, "\"-\" converts standard input to standard output: it cannot go with %s",
         conflict);
    *status = EXIT_COMMAND_LINE;
    return false;
  }
  settings.standard_streams = true;
  settings.input_set.inputs.clear();
  PathValue here;
  if (current_directory(here)) settings.input_root = folder_root_create(here.view()).value();
  if (!settings.input_root) {
    DIAG(LOG_FATAL, "Could not read the current folder");
    *status = EXIT_INTERNAL;
    return false;
  }
  settings.output_root = settings.input_root.get();
  return true;
}

bool finish_settings(ToolSettings& settings, const OptionRows& rows, OptionTable& table, int argc,
                     char** argv, ExitStatus* status) {
  int errors = arg_parse(argc, argv, table.data());
  name_flags_given_values(rows.end, table, argc, argv);
  // With --files-from, the inputs may all come from the list.
  if (errors == 1 && rows.files_from->count > 0 && rows.end->error[0] == 1 &&
      rows.end->parent[0] == &rows.inputs->hdr) {
    errors = 0;
  }

  if (rows.help->count > 0 || argc == 1) {
    print_usage(table);
    return false;
  }
  if (rows.version->count > 0) {
    std::printf("Version: %s\n", version_text());
    std::printf("Build date: %s\n", build_date_text());
    std::printf("GIT SHA: %s\n", commit_hash_text());
    *status = EXIT_OK;
    return false;
  }
  if (errors > 0) {
    DIAG(LOG_FATAL, "%s", describe_first_error(rows).c_str());
    int first = rows.end->error[0];
    if (first == ERROR_BAD_VALUE) {
      *status = EXIT_BAD_VALUE;
    } else if (first == ERROR_MISSING_VALUE) {
      *status = EXIT_MISSING_VALUE;
    } else {
      arg_print_errors(stdout, rows.end, "velmarch");
      *status = EXIT_COMMAND_LINE;
    }
    return false;
  }

  int level = rows.verbosity->count == 0 ? LOG_INFO : output_level_for(rows.verbosity->ival[0]);
  if (level == 0) {
    DIAG(LOG_FATAL, "Invalid value %d for --verbosity: expected 0 to 5", rows.verbosity->ival[0]);
    *status = EXIT_BAD_VALUE;
    return false;
  }
  log_set_output_level(level);

  ConversionFlags& flags = settings.flags;
  flags.delete_converted = rows.delete_converted->count == 1;
  flags.no_append_root = rows.no_append_root->count == 1;
  flags.non_interactive = rows.non_interactive->count == 1;
  flags.merge_splits = rows.merge_splits->count == 1;
  flags.buffer_size = rows.buffer->count == 1 ? static_cast<int64_t>(rows.buffer->ival[0]) : -1;
  if (rows.jobs->count == 1 && rows.jobs->ival[0] <= 0) {
    DIAG(LOG_FATAL, "Invalid value %d for --jobs: expected 1 or more", rows.jobs->ival[0]);
    *status = EXIT_BAD_VALUE;
    return false;
  }
  // More threads than this would only cost memory and switching.
  constexpr int MOST_JOBS = 256;
  flags.jobs = std::min(rows.jobs->count == 1 ? rows.jobs->ival[0] : platform_processor_count(),
                        MOST_JOBS);

  if (standard_input_named(rows)) return settle_standard_streams(settings, rows, status);
  if (rows.files_from->count == 1) {
    char separator = rows.null_separated->count == 1 ? '\0' : '\n';
    if (!add_input_list(settings, rows.files_from->sval[0], separator, status)) return false;
    // An empty list is nothing to do, as for rsync: the run converts nothing.
    PathValue& root = settings.input_set.common_root;
    if (settings.input_set.inputs.empty()) {
      if (!current_directory(root)) {
        DIAG(LOG_FATAL, "Could not read the current folder");
        *status = EXIT_INTERNAL;
        return false;
      }
      if (root.view().empty() || root.view().back() != '/') root.append("/", 1);
    }
  }
  if (!settings.input_set.inputs.empty() && !find_common_root(settings.input_set, status)) {
    return false;
  }

  settings.input_root = folder_root_create(settings.input_set.common_root.view()).value();
  if (!settings.input_root) {
    // The inputs cannot be reached: say so for each, as for any missing input.
    for (const SmallString& input : settings.input_set.inputs) {
      DIAG(LOG_WARN, "Could not find input file/folder %.*s", STR_VIEW_ARG(input.view()));
    }
    *status = EXIT_INPUT_MISSING;
    return false;
  }
  settings.output_root = settings.input_root.get();
  if (settings.output_directories.size() == 1) {
    const SmallString& directory = settings.output_directories.front();
    Result<std::unique_ptr<FolderRoot>> root = folder_root_create(directory.view());
    if (!root.ok()) {
      DIAG_FAILURE(LOG_ERROR, root.error(), "Invalid output path: %s", directory.c_str());
      *status = EXIT_COMMAND_LINE;
      return false;
    }
    settings.separate_output_root = std::move(root).value();
    settings.output_root = settings.separate_output_root.get();
  }
  return true;
}

}  // namespace

bool tool_settings_parse(ToolSettings& settings, int argc, char** argv, ExitStatus* status) {
  OptionRows rows{};
  rows.help = arg_lit0(nullptr, "help", "display this help and exit");
  rows.version = arg_lit0("v", "version", "display tool version and exit");
  rows.verbosity = arg_int0(nullptr, "verbosity", "<n>",
                            "verbosity of logging messages from 0 to 4, with 0 being fatal "
                            "messages only 4 being all messages including debug information. "
                            "defaults to 3");
  rows.non_interactive =
      arg_lit0(nullptr, "non-interactive", "does not print any progress output");
  rows.delete_converted =
      arg_lit0("d", "delete-converted", "deletes files after conversion if specified");
  rows.no_append_root =
      arg_lit0("X", "no-append-root", "do not add \"_out\" when converting folders");
  rows.buffer = arg_int0("b", "buffer", "<n>",
                         "buffer size in bytes. 0 disables and -1 takes entire file");
  rows.jobs = arg_int0("j", "jobs", "<n>",
                       "number of files converted at once, defaults to the number of processors");
  rows.merge_splits = arg_lit0("m", "merge-splits",
                               "joins the split files of a recording into one trace");
  rows.output_directory =
      path_list_arg("O", "output-directory", "<file>", 0, 1, "where to place the converted files",
                    check_path_option, report_path_error, &settings.output_directories);
  rows.report = path_list_arg(nullptr, "report", "<file>", 0, 1,
                              "writes what became of each input to the file, as JSON Lines",
                              check_path_option, report_path_error, &settings.report_paths);
  rows.files_from = arg_str0(nullptr, "files-from", "<file>",
                             "reads more inputs from the file, one per line; - reads them from "
                             "standard input");
  rows.null_separated =
      arg_lit0("0", "null", "the paths of --files-from end with a NUL, not a line end");
  rows.input_files = arg_lit0("i", "input-files=<file(s)/folder(s)>",
                              "list of input files/folders, must have common root");
  rows.inputs = path_list_arg(nullptr, nullptr, "file(s)/folder(s)", 1, std::max(argc - 1, 1),
                              nullptr, check_path_option, report_path_error,
                              &settings.input_set.inputs);
  rows.end = arg_end(MAX_ERRORS);

  // Room for every row up front, so that no append below can fail.
  OptionTable table;
  table.reserve(20);
  table = {rows.help,           rows.version,        rows.verbosity, rows.non_interactive,
           rows.delete_converted, rows.no_append_root, rows.buffer,    rows.jobs,
           rows.merge_splits};
  void* const later_rows[] = {rows.output_directory, rows.report, rows.files_from,
                              rows.null_separated, rows.input_files, rows.inputs, rows.end};
  bool result = false;
  if (settings.hooks != nullptr && !settings.hooks->add_options(settings, table)) {
    for (void* row : later_rows) std::free(row);
  } else {
    table.insert(table.end(), std::begin(later_rows), std::end(later_rows));
    // A missing end marker would let argtable walk past the table: test every entry here.
    bool complete = std::find(table.begin(), table.end(), nullptr) == table.end() &&
                    arg_nullcheck(table.data()) == 0;
    if (!complete) {
      DIAG(LOG_FATAL, "Out of memory while building the option table");
      *status = EXIT_INTERNAL;
    } else {
      result = finish_settings(settings, rows, table, argc, argv, status);
      if (result && settings.hooks != nullptr) result = settings.hooks->after_parse(settings);
    }
  }
  arg_freetable(table.data(), table.size());
  return result;
}

}  // namespace velmarch
