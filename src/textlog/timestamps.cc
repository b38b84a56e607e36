#include "textlog/timestamps.h"

#include <cstring>
#include <ctime>
#include <initializer_list>

#include "platform/platform.h"
#include "textlog/text_scan.h"

namespace velmarch {

namespace {

// Whole seconds as UTC; a time before 1970-01-01 00:00:00 counts as not convertible and
// yields -1, the same on every platform.
int64_t utc_seconds(struct tm* fields) {
  int64_t seconds = static_cast<int64_t>(platform_utc_to_time(fields));
  return seconds < 0 ? -1 : seconds;
}

}  // namespace

TimestampClock::TimestampClock(const LogHeader& header) : time_format_(header.time_format) {
  for (char c : {header.value_separator, header.time_separator, header.time_separator_ms,
                 header.date_separator, header.time_and_date_separator, 'T'}) {
    if (c != '\0') ignored_[static_cast<unsigned char>(c)] = true;
  }
  std::memcpy(base_, TIME_TEMPLATE, TIME_DIGITS);
  char digits[TIME_DIGITS];
  int m = keep_digits(header.time_text, static_cast<int>(sizeof header.time_text), digits);
  std::memcpy(base_, digits, static_cast<size_t>(m));
}

int TimestampClock::keep_digits(const char* text, int look, char* digits) const {
  int kept = 0;
  for (int i = 0; i < look && text[i] != '\0'; ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (ignored_[c]) continue;
    if (kept == TIME_DIGITS) break;
    digits[kept++] = static_cast<char>(c);
  }
  return kept;
}

uint32_t rollover_period(uint8_t time_format, double value) {
  switch (time_format) {
    case TIME_FORMAT_SECONDS:
      return 60;
    case TIME_FORMAT_MINUTES:
      return 3600;
    case TIME_FORMAT_HOURS:
      return 86400;
    case TIME_FORMAT_DAYS:
    case TIME_FORMAT_MONTHS: {
      auto whole = static_cast<time_t>(value);
      struct tm fields {};
      if (!platform_time_to_utc(whole, &fields)) return 0;
      if (time_format == TIME_FORMAT_DAYS) {
        fields.tm_mon += 1;
      } else {
        fields.tm_year += 1;
      }
      return static_cast<uint32_t>(utc_seconds(&fields) - static_cast<int64_t>(whole));
    }
    default:
      return 0;
  }
}

double composed_time_plain(const char* composed) {
  unsigned f[7] = {};
  scan_time_fields(composed, f);
  struct tm fields {};
  fields.tm_year = static_cast<int>(f[0]) - 1900;
  fields.tm_mon = static_cast<int>(f[1]) - 1;
  fields.tm_mday = static_cast<int>(f[2]);
  fields.tm_hour = static_cast<int>(f[3]);
  fields.tm_min = static_cast<int>(f[4]);
  fields.tm_sec = static_cast<int>(f[5]);
  return static_cast<double>(utc_seconds(&fields)) + f[6] * 0.001;
}

namespace {

inline unsigned digits_value(const char* text, int count) {
  unsigned value = 0;
  for (int i = 0; i < count; ++i) value = value * 10 + static_cast<unsigned>(text[i] - '0');
  return value;
}

// Whether eight bytes are all decimal digits: each has the high half 3 and a low half that
// adding 6 does not carry out of.
inline bool eight_digits(const char* text) {
  constexpr uint64_t high_halves = 0xF0F0F0F0F0F0F0F0ULL, threes = 0x3030303030303030ULL;
  uint64_t v;
  std::memcpy(&v, text, sizeof v);
  return (v & high_halves) == threes && ((v + 0x0606060606060606ULL) & high_halves) == threes;
}

}  // namespace

double composed_time(HourCache& cache, const char* composed) {
  static_assert(TIME_DIGITS == 17);
  if (!eight_digits(composed) || !eight_digits(composed + 8) ||
      static_cast<unsigned>(composed[16] - '0') >= 10u) {
    return composed_time_plain(composed);
  }
  if (!cache.valid || std::memcmp(cache.key, composed, sizeof cache.key) != 0) {
    unsigned year = digits_value(composed, 4);
    struct tm fields {};
    fields.tm_year = static_cast<int>(year) - 1900;
    fields.tm_mon = static_cast<int>(digits_value(composed + 4, 2)) - 1;
    fields.tm_mday = static_cast<int>(digits_value(composed + 6, 2));
    fields.tm_hour = static_cast<int>(digits_value(composed + 8, 2));
    int64_t seconds = utc_seconds(&fields);
    // Minutes and seconds (up to 99 each) then add linearly, as the calendar conversion
    // normalises them; an hour before 1970, or near the end of what every platform's
    // conversion covers, takes the plain path.
    if (seconds < 0 || year >= 2999) {
      cache.valid = false;
      return composed_time_plain(composed);
    }
    std::memcpy(cache.key, composed, sizeof cache.key);
    cache.seconds = seconds;
    cache.valid = true;
  }
  int64_t seconds = cache.seconds + int64_t{digits_value(composed + 10, 2)} * 60 +
                    digits_value(composed + 12, 2);
  return static_cast<double>(seconds) + digits_value(composed + 14, 3) * 0.001;
}

// "11:30:07.123" (time format 3, separators ":" and ".") or "20170307113007123" (format 0).
double TimestampClock::complete(const char* field) {
  // Copies of a fixed size compile to a few moves; the room past the composition takes what
  // the last one carries beyond the digits kept.
  char digits[TIME_DIGITS] = {};
  int n = keep_digits(field, TIMESTAMP_FIELD_MAX, digits);
  char composed[2 * TIME_DIGITS + 1];
  std::memcpy(composed, base_, TIME_DIGITS);
  std::memcpy(composed + TIME_DIGITS - n, digits, TIME_DIGITS);
  composed[TIME_DIGITS] = '\0';

  double value = composed_time(hour_cache_, composed);
  value += rollover_total_;

  rolled_over_ = false;
  if (last_raw_time_ > value) {
    uint32_t period = velmarch::rollover_period(time_format_, value);
    if (period != 0 && last_raw_time_ - value > 1.0) {
      rolled_over_ = true;
      rollover_step_ = last_raw_time_ - value;
      rollover_period_ = period;
      rollover_total_ += period;
      value += period;
    }
  }
  last_raw_time_ = value;
  return value;
}

}  // namespace velmarch
