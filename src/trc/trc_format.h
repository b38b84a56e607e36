#pragma once

#include <cstdint>

#include "base/small_string.h"
#include "textlog/can_record.h"

namespace velmarch {

inline constexpr int32_t TRC_VERSION_1_1 = 1;
inline constexpr int32_t TRC_VERSION_2_1 = 2;
/// 2.1 with the reserved column R ("-") after the direction, which python-can 4.1's reader
/// and cantools need.
inline constexpr int32_t TRC_VERSION_2_1_RESERVED = 3;

/// Appends the record line of one version (line feed included) for a message number and a
/// time offset in milliseconds.
using RecordFormatter = void (*)(SmallString& line, int64_t number, double offset_ms,
                                 const CanRecord& record);

/// What sets one TRC file version apart: the text its files begin with and how it writes a frame.
struct TrcVersion {
  int32_t number;            // TRC_VERSION_1_1, TRC_VERSION_2_1 or TRC_VERSION_2_1_RESERVED
  const char* version_line;  // ";$FILEVERSION=..." and its line feed
  const char* columns_line;  // ";$COLUMNS=..." and its line feed; null when the version has none
  RecordFormatter append_record;
  bool skips_fd_frames;      // the version cannot hold CAN FD frames: they take no line or number
  const char* write_error;   // logged when a record line does not go out whole; null for none
};

/// The description of a version; null for any number but TRC_VERSION_1_1, TRC_VERSION_2_1 and
/// TRC_VERSION_2_1_RESERVED.
const TrcVersion* trc_version(int32_t number);

/// Appends a file's header lines: version, start time and, where the version has it, columns.
void trc_append_header(SmallString& line, const TrcVersion& version, double start_time);

/// The record line of each version. The plain forms go through stb_sprintf; the others format
/// by hand and give the same bytes.
void trc11_append_record_plain(SmallString& line, int64_t number, double offset_ms,
                               const CanRecord& record);
void trc11_append_record(SmallString& line, int64_t number, double offset_ms,
                         const CanRecord& record);
void trc21_append_record_plain(SmallString& line, int64_t number, double offset_ms,
                               const CanRecord& record);
void trc21_append_record(SmallString& line, int64_t number, double offset_ms,
                         const CanRecord& record);
void trc21r_append_record_plain(SmallString& line, int64_t number, double offset_ms,
                                const CanRecord& record);
void trc21r_append_record(SmallString& line, int64_t number, double offset_ms,
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
