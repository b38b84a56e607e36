#pragma once

#include <cstdint>
#include <cstdio>

#include "app/tool_settings.h"

namespace velmarch {

/// The add_options hook: adds --trace-format to the table. True in every case, also when the
/// table could not take it.
bool add_trace_format_option(ToolSettings& settings, OptionTable& table);
/// Stores the chosen version in the settings: 2 when the option is absent; 1 when the value
/// does not name a version.
int32_t check_trace_format(void* option, void* settings);
void report_trace_format_error(void* option, void* settings, FILE* out, int code,
                               const char* value, const char* program);

}  // namespace velmarch
