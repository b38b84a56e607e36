#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#include "app/tool_settings.h"
#include "convert/trace_sink.h"

namespace velmarch {

/// The formats --trace-format chooses from; the TRC ones are numbered as their versions.
enum TraceFormatId : int32_t {
  TRACE_FORMAT_TRC_1_1 = 1,
  TRACE_FORMAT_TRC_2_1 = 2,
  TRACE_FORMAT_TRC_2_1_RESERVED = 3,
  TRACE_FORMAT_ASC = 4,
  TRACE_FORMAT_BLF = 5,
  TRACE_FORMAT_CANDUMP = 6,
  TRACE_FORMAT_PCAPNG = 7,
};

/// The add_options hook: adds --trace-format to the table. True in every case, also when the
/// table could not take it.
bool add_trace_format_option(ToolSettings& settings, OptionTable& table);
/// Stores the chosen format in the settings: TRC 2.1 when the option is absent; 1 when the
/// value names no format.
int32_t check_trace_format(void* option, void* settings);
void report_trace_format_error(void* option, void* settings, FILE* out, int code,
                               const char* value, const char* program);

/// A writer of the format; null for an unknown one, or when memory runs out.
std::unique_ptr<TraceSink> trace_format_create(int32_t format);

}  // namespace velmarch
