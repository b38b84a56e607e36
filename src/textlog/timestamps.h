#pragma once

#include <cstdint>

#include "textlog/log_header.h"

namespace velmarch {

/// 1970-01-01 00:00:00.000: four digits of year, two each of month, day, hour, minute and
/// second, three of milliseconds.
inline constexpr char TIME_TEMPLATE[] = "19700101000000000";
inline constexpr int TIME_DIGITS = 17;
/// Characters of a "Timestamp" field that are looked at; the rest is cut.
inline constexpr int TIMESTAMP_FIELD_MAX = 23;

/// The UTC seconds of the start of one hour, keyed by its ten digits "yyyymmddhh": records
/// come in time order, so most of them share the previous record's date and hour.
struct HourCache {
  char key[10] = {};
  int64_t seconds = 0;
  bool valid = false;
};

/// Turns the "Timestamp" fields of one log's records into seconds since 1970-01-01 UTC: the
/// record's digits completed by the header's, with time kept running forward when the record's
/// highest field wraps (a rollover). One clock per log, fed every record line in order.
class TimestampClock {
 public:
  TimestampClock() = default;
  /// Takes the separators to ignore, the time text and the time format of the header.
  explicit TimestampClock(const LogHeader& header);

  /// The timestamp of one record line's field, milliseconds as the fraction.
  double complete(const char* field);

  /// Seconds added for rollovers so far; every later timestamp carries them.
  uint32_t rollover_total() const { return rollover_total_; }
  /// The last timestamp computed, the reference for the next rollover.
  double last_raw_time() const { return last_raw_time_; }
  /// TIME_TEMPLATE overlaid with the header's digits.
  const char* base() const { return base_; }

  /// Whether the last timestamp completed was taken for a rollover; if so, how far it ran
  /// back before the period was added, and the period.
  bool rolled_over() const { return rolled_over_; }
  double rollover_step() const { return rollover_step_; }
  uint32_t rollover_period() const { return rollover_period_; }

 private:
  // Copies text without the ignored characters, looking at no more than `look` characters and
  // keeping no more than TIME_DIGITS; answers how many were kept.
  int keep_digits(const char* text, int look, char* digits) const;

  bool ignored_[256] = {};
  char base_[TIME_DIGITS + 1] = {};
  uint8_t time_format_ = TIME_FORMAT_FULL;
  uint32_t rollover_total_ = 0;
  double last_raw_time_ = 0;
  bool rolled_over_ = false;
  double rollover_step_ = 0;
  uint32_t rollover_period_ = 0;
  HourCache hour_cache_;
};

/// Seconds since 1970-01-01 UTC of a composed 17-character time, milliseconds as the fraction:
/// the scan and the platform's calendar conversion, as plain as it gets.
double composed_time_plain(const char* composed);
/// The same value, reusing the cached conversion when the date and hour are the cached ones.
double composed_time(HourCache& cache, const char* composed);

/// The rollover period in seconds for a time format at a timestamp; 0 for none.
uint32_t rollover_period(uint8_t time_format, double value);

}  // namespace velmarch
