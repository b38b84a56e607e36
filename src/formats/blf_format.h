#pragma once

#include <memory>

#include "convert/trace_sink.h"

namespace velmarch {

/// Writes ".blf" files as python-can's BLFWriter lays them out: a 144-byte file header, then
/// zlib-compressed containers of up to 128 KiB holding one CAN_MESSAGE object per frame, on
/// channel 1, timed in nanoseconds from the first frame. The header is rewritten at end_file
/// with the object count, the sizes and the time of the last frame. Nothing is written until
/// the first frame. Null when memory runs out.
std::unique_ptr<TraceSink> blf_format_create();

}  // namespace velmarch
