#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace e2e {

/// A value of --trace-format and the extension of its traces, for the tests that hold for
/// every format: what keeps a recording safe lies below them all.
struct TraceFormatCase {
  const char* name;
  const char* extension;
};

inline const TraceFormatCase EVERY_FORMAT[] = {
    {"version2", ".trc"}, {"version1", ".trc"}, {"version2r", ".trc"}, {"asc", ".asc"},
    {"blf", ".blf"},      {"candump", ".log"},  {"pcapng", ".pcapng"},
};

inline void PrintTo(const TraceFormatCase& format, std::ostream* out) { *out << format.name; }

inline std::string format_case_name(const ::testing::TestParamInfo<TraceFormatCase>& info) {
  return info.param.name;
}

}  // namespace e2e
