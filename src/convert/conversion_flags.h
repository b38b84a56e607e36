#pragma once

#include <cstdint>

namespace velmarch {

/// The switches of a run that the conversion reads; filled from the command line.
struct ConversionFlags {
  bool delete_converted = false;
  bool no_append_root = false;
  bool non_interactive = false;  // no progress line, even on a terminal
  int64_t buffer_size = -1;      // read buffer in bytes; 0 none, negative the whole file
  int jobs = 1;                  // files converted at once; 1 converts them one after another
  bool merge_splits = false;     // the splits of a recording go to one trace
};

}  // namespace velmarch
