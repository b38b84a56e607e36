#pragma once

// Integer scanning for the record lines, the hot path of every conversion. Each routine gives
// exactly the result of 64-bit Linux's sscanf with the format it names, for every input
// and on every platform
// (text_scan_test.cc compares both on many generated fields), without sscanf's per-call setup.

#include <cstdint>

namespace velmarch {

/// One unsigned integer conversion of sscanf ("%u" for base 10, "%x" for base 16) with a
/// maximum field width (0: none): leading white space is skipped, then an optional sign, for
/// base 16 an optional "0x" or "0X", and the digits, all within the width; the text read is
/// converted as strtoul does. Answers 1 with *value and *end (the first character not consumed)
/// set, 0 when no number could be read, or -1 when the text held only white space (sscanf's
/// EOF); on 0 and -1 nothing is written.
int scan_unsigned(const char* text, int width, int base, uint64_t* value, const char** end);

/// The value of each byte as a hex digit, or -1. A table: data bytes are random, and the
/// branches of a digit-or-letter test would be mispredicted half of the time.
struct HexDigitTable {
  int8_t value[256];
  constexpr HexDigitTable() : value() {
    for (int c = 0; c < 256; ++c) {
      value[c] = c >= '0' && c <= '9'   ? static_cast<int8_t>(c - '0')
                 : c >= 'a' && c <= 'f' ? static_cast<int8_t>(c - 'a' + 10)
                 : c >= 'A' && c <= 'F' ? static_cast<int8_t>(c - 'A' + 10)
                                        : int8_t{-1};
    }
  }
};
inline constexpr HexDigitTable hex_digits{};

inline int hex_digit_value(unsigned char c) { return hex_digits.value[c]; }

// The scans below read plain digits themselves and leave everything else (blanks, signs, a
// "0x" prefix, long runs that might overflow) to scan_unsigned.

/// sscanf(text, "%x", value) == 1.
inline bool scan_hex_u32(const char* text, uint32_t* value) {
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  int d = hex_digit_value(p[0]);
  if (d >= 0 && !(p[0] == '0' && (p[1] | 0x20) == 'x')) {
    uint32_t v = static_cast<uint32_t>(d);
    int i = 1;
    for (; i < 8 && (d = hex_digit_value(p[i])) >= 0; ++i) v = v << 4 | static_cast<uint32_t>(d);
    if (i < 8 || hex_digit_value(p[8]) < 0) {
      *value = v;
      return true;
    }
  }
  uint64_t v;
  const char* end;
  if (scan_unsigned(text, 0, 16, &v, &end) != 1) return false;
  *value = static_cast<uint32_t>(v);
  return true;
}

/// sscanf(text, "%hhu", value) == 1.
inline bool scan_decimal_u8(const char* text, uint8_t* value) {
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  if (static_cast<unsigned>(p[0] - '0') < 10u && static_cast<unsigned>(p[1] - '0') >= 10u) {
    *value = static_cast<uint8_t>(p[0] - '0');
    return true;
  }
  uint64_t v;
  const char* end;
  if (scan_unsigned(text, 0, 10, &v, &end) != 1) return false;
  *value = static_cast<uint8_t>(v);
  return true;
}

/// sscanf(text, "%2hhx", value) == 1.
inline bool scan_hex_pair(const char* text, uint8_t* value) {
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  int high = hex_digit_value(p[0]);
  int low = p[0] != '\0' ? hex_digit_value(p[1]) : -1;
  if ((high | low) >= 0) {
    *value = static_cast<uint8_t>(high << 4 | low);
    return true;
  }
  uint64_t v;
  const char* end;
  if (scan_unsigned(text, 2, 16, &v, &end) != 1) return false;
  *value = static_cast<uint8_t>(v);
  return true;
}

/// sscanf(text, "%4u%2u%2u%2u%2u%2u%3u", &f[0], ..., &f[6]): year, month, day, hour, minute,
/// second and milliseconds. Answers what sscanf answers (the number of fields assigned, or -1
/// when the text held only white space); fields after the point where the scan stops are not
/// written.
int scan_time_fields(const char* text, unsigned fields[7]);

}  // namespace velmarch
