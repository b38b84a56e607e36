#include "textlog/text_scan.h"

#include <climits>

namespace velmarch {

namespace {

// White space as the C locale's isspace sees it.
inline bool is_space(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The value of c as a digit of base 10 or 16, or -1.
inline int digit_value(unsigned char c, int base) {
  if (c >= '0' && c <= '9') return c - '0';
  if (base == 16) {
    unsigned char lower = static_cast<unsigned char>(c | 0x20);
    if (lower >= 'a' && lower <= 'f') return lower - 'a' + 10;
  }
  return -1;
}

}  // namespace

int scan_unsigned(const char* text, int width, int base, uint64_t* value, const char** end) {
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  while (is_space(*p)) ++p;
  if (*p == '\0') return -1;
  int left = width > 0 ? width : -1;  // -1: no limit
  bool negative = false;
  if (*p == '-' || *p == '+') {
    negative = *p == '-';
    ++p;
    if (left > 0) --left;
  }
  bool digits = false;
  if (left != 0 && *p == '0') {
    digits = true;
    ++p;
    if (left > 0) --left;
    // The C library drops the "x" of a "0x" prefix and keeps the "0", so "0x" alone reads 0.
    if (base == 16 && left != 0 && (*p == 'x' || *p == 'X')) {
      ++p;
      if (left > 0) --left;
    }
  }
  uint64_t magnitude = 0;
  bool overflow = false;
  const auto ubase = static_cast<uint64_t>(base);
  while (left != 0) {
    int d = digit_value(*p, base);
    if (d < 0) break;
    const auto ud = static_cast<uint64_t>(d);
    if (magnitude > (UINT64_MAX - ud) / ubase) overflow = true;
    magnitude = magnitude * ubase + ud;
    digits = true;
    ++p;
    if (left > 0) --left;
  }
  if (!digits) return 0;
  // strtoul with a 64-bit unsigned long, as on 64-bit Linux, on every platform: an
  // out-of-range magnitude gives the maximum whatever the sign; a minus negates.
  *value = overflow ? UINT64_MAX : negative ? 0 - magnitude : magnitude;
  *end = reinterpret_cast<const char*>(p);
  return 1;
}

int scan_time_fields(const char* text, unsigned fields[7]) {
  static constexpr int widths[7] = {4, 2, 2, 2, 2, 2, 3};
  const char* p = text;
  for (int i = 0; i < 7; ++i) {
    uint64_t v;
    int r = scan_unsigned(p, widths[i], 10, &v, &p);
    if (r != 1) return i == 0 ? r : i;
    fields[i] = static_cast<unsigned>(v);
  }
  return 7;
}

}  // namespace velmarch
