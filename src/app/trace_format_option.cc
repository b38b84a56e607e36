#include "app/trace_format_option.h"

#include <cstdlib>
#include <new>

#include "app/option_types.h"
#include "platform/platform.h"
#include "trc/trc_writer.h"

namespace velmarch {

namespace {

int check_callback(void* option, void* settings) { return check_trace_format(option, settings); }

}  // namespace

bool add_trace_format_option(ToolSettings& settings, OptionTable& table) {
  ValidatedStringArg* option = validated_string_arg(
      "f", "trace-format", "{version1,version2}", 0, 1,
      "which trace version to output, defaults to 2.1", check_callback,
      report_trace_format_error, &settings);
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
    target->trace_version = TRC_VERSION_2_1;
    return 0;
  }
  if (platform_compare_ignoring_case(format->sval[0], "version1") == 0) {
    target->trace_version = TRC_VERSION_1_1;
    return 0;
  }
  if (platform_compare_ignoring_case(format->sval[0], "version2") == 0) {
    target->trace_version = TRC_VERSION_2_1;
    return 0;
  }
  return 1;
}

void report_trace_format_error(void* option, void* /*settings*/, FILE* out, int /*code*/,
                               const char* /*value*/, const char* /*program*/) {
  auto* format = static_cast<ValidatedStringArg*>(option);
  std::fprintf(out, "invalid value \"%s\" to option ", format->sval[0]);
  arg_print_option(out, format->hdr.shortopts, format->hdr.longopts, format->hdr.datatype, "\n");
}

}  // namespace velmarch
