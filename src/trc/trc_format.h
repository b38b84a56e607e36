#pragma once

#include "textlog/can_record.h"
#include "trc/trc_writer.h"

namespace velmarch {

// Each composes one header or record line in writer.line and writes it with one call.
bool trc11_write_header(TrcWriter& writer);
bool trc21_write_header(TrcWriter& writer);
/// Skips CAN FD frames, which version 1.1 cannot hold, without using a message number.
bool trc11_write_frame(TrcWriter& writer, const CanRecord& record);
bool trc21_write_frame(TrcWriter& writer, const CanRecord& record);

/// Appends the day count since 1899-12-30 of a time in seconds since 1970, as ";$STARTTIME="
/// wants it, and a line feed.
void trc_append_start_time(SmallString& line, double start_time);

}  // namespace velmarch
