#pragma once

#include "textlog/text_log_reader.h"

namespace velmarch {

/// 1970-01-01 00:00:00.000: four digits of year, two each of month, day, hour, minute and
/// second, three of milliseconds.
inline constexpr char TIME_TEMPLATE[] = "19700101000000000";
inline constexpr int TIME_DIGITS = 17;
/// Characters of a "Timestamp" field that are looked at; the rest is cut.
inline constexpr int TIMESTAMP_FIELD_MAX = 23;

/// Prepares the reader's timestamp state from its header: the ignored characters and the
/// template overlaid with the header digits. text_log_open calls it once the header is read.
void timestamp_prepare(TextLogReader& reader);

/// The "Timestamp" column: completes the record digits with the header's, converts
/// them as UTC, adds rollovers and sets record.timestamp.
void column_timestamp(TextLogReader& reader, const char* field, CanRecord& record);

/// Seconds since 1970-01-01 UTC of a composed 17-character time, milliseconds as the fraction:
/// the scan and the platform's calendar conversion, as plain as it gets.
double composed_time_plain(const char* composed);
/// The same value, reusing the cached conversion when the date and hour are the cached ones.
double composed_time(HourCache& cache, const char* composed);

/// The rollover period in seconds for a time format at a timestamp; 0 for none.
uint32_t rollover_period(uint8_t time_format, double value);

}  // namespace velmarch
