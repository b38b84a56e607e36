#include "app/trace_format_option.h"

#include <cstdlib>
#include <new>

#include "app/option_types.h"
#include "formats/asc_format.h"
#include "formats/blf_format.h"
#include "formats/candump_format.h"
#include "formats/pcapng_format.h"
#include "platform/platform.h"
#include "trc/trc_writer.h"

namespace velmarch {

namespace {

struct FormatName {
  const char* name;
  int32_t format;
};

// In the order the option's data type lists them.
constexpr FormatName FORMAT_NAMES[] = {
    {"version1", TRACE_FORMAT_TRC_1_1}, {"version2", TRACE_FORMAT_TRC_2_1},
    {"version2r", TRACE_FORMAT_TRC_2_1_RESERVED}, {"asc", TRACE_FORMAT_ASC},
    {"blf", TRACE_FORMAT_BLF}, {"candump", TRACE_FORMAT_CANDUMP},
    {"pcapng", TRACE_FORMAT_PCAPNG},
};

int check_callback(void* option, void* settings) { return check_trace_format(option, settings); }

}  // namespace

bool add_trace_format_option(ToolSettings& settings, OptionTable& table) {
  ValidatedStringArg* option = validated_string_arg(
      "f", "trace-format", "{version1,version2,version2r,asc,blf,candump,pcapng}", 0, 1,
      "which trace format to output: TRC 1.1, 2.1 (the default) or 2.1 with the reserved "
      "column, Vector ASC or BLF, a candump log or pcapng",
      check_callback, report_trace_format_error, &settings);
  try {
    table.push_back(option);
  } catch (const std::bad_alloc&) {
    std::free(option);  // a table that cannot grow skips the option
  }
  return true;
}

int32_t check_trace_format(void* option, void* settings) {
  auto* format = static_cast<ValidatedStringArg*>(option);
  auto* target = static_cast<ToolSettings*>(settings);
  if (format->count != 1) {
    target->trace_version = TRACE_FORMAT_TRC_2_1;
    return 0;
  }
  for (const FormatName& known : FORMAT_NAMES) {
    if (platform_compare_ignoring_case(format->sval[0], known.name) == 0) {
      target->trace_version = known.format;
      return 0;
    }
  }
  return 1;
}

void report_trace_format_error(void* option, void* /*settings*/, FILE* out, int /*code*/,
                               const char* /*value*/, const char* /*program*/) {
  auto* format = static_cast<ValidatedStringArg*>(option);
  std::fprintf(out, "invalid value \"%s\" to option ", format->sval[0]);
  arg_print_option(out, format->hdr.shortopts, format->hdr.longopts, format->hdr.datatype, "\n");
}

std::unique_ptr<TraceSink> trace_format_create(int32_t format) {
  switch (format) {
    case TRACE_FORMAT_TRC_1_1:
      return trc_writer_create(TRC_VERSION_1_1);
    case TRACE_FORMAT_TRC_2_1:
      return trc_writer_create(TRC_VERSION_2_1);
    case TRACE_FORMAT_TRC_2_1_RESERVED:
      return trc_writer_create(TRC_VERSION_2_1_RESERVED);
    case TRACE_FORMAT_ASC:
      return asc_format_create();
    case TRACE_FORMAT_BLF:
      return blf_format_create();
    case TRACE_FORMAT_CANDUMP:
      return candump_format_create();
    case TRACE_FORMAT_PCAPNG:
      return pcapng_format_create();
    default:
      return nullptr;
  }
}

}  // namespace velmarch
