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

/// The record line of each version (line feed included) for a message number and a time
/// offset in milliseconds, appended to line. The plain forms go through stb_sprintf; the others
/// format by hand and give the same bytes.
void trc11_append_record_plain(SmallString& line, int64_t number, double offset_ms,
                               const CanRecord& record);
void trc11_append_record(SmallString& line, int64_t number, double offset_ms,
                         const CanRecord& record);
void trc21_append_record_plain(SmallString& line, int64_t number, double offset_ms,
                               const CanRecord& record);
void trc21_append_record(SmallString& line, int64_t number, double offset_ms,
                         const CanRecord& record);

/// Writes value as "%<width>.<decimals>f" does, for 1 to 3 decimals, and answers the length;
/// answers 0 and leaves the rounding to the C formatter when the value is negative, not
/// finite, very large, or so close to halfway between two outputs that it might round either
/// way. out has room for width + 24 characters.
int format_fixed_by_hand(char* out, double value, int width, int decimals);

/// Appends the day count since 1899-12-30 of a time in seconds since 1970, as ";$STARTTIME="
/// wants it, and a line feed.
void trc_append_start_time(SmallString& line, double start_time);

}  // namespace velmarch
