#include "trc/trc_format.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace velmarch {

namespace {

const char* direction(const CanRecord& record) { return record.tx != 0 ? "Tx" : "Rx"; }

void append_data(SmallString& line, const CanRecord& record) {
  small_string_append_hex(line, record.data.data(), record.data.size(), ' ', 1);
}

}  // namespace

// TRC times count days from 1899-12-30, the zero of spreadsheet dates.
constexpr double SECONDS_PER_DAY = 86400;
constexpr double DAYS_FROM_1899_12_30_TO_1970 = 25569;

void trc_append_start_time(SmallString& line, double start_time) {
  double days = start_time / SECONDS_PER_DAY + DAYS_FROM_1899_12_30_TO_1970;
  double whole_days;
  double fraction = std::modf(days, &whole_days);
  char digits[48];
  std::snprintf(digits, sizeof digits, "%010.0f", fraction * 1e10);
  auto whole = static_cast<unsigned long long>(whole_days);
  // A fraction that rounds up to a whole day belongs to the next day; printed as eleven digits
  // it would read as a different time.
  if (std::strlen(digits) > 10) {
    whole += 1;
    std::strcpy(digits, "0000000000");
  }
  small_string_printf_append(line, "%5llu.%s\n", whole, digits);
}

namespace {

constexpr char two_digits[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// The decimal digits of value, written so that they end just before end; answers the first.
char* digits_before(char* end, uint64_t value) {
  while (value >= 100) {
    uint64_t pair = value % 100;
    value /= 100;
    end -= 2;
    std::memcpy(end, two_digits + 2 * pair, 2);
  }
  if (value >= 10) {
    end -= 2;
    std::memcpy(end, two_digits + 2 * value, 2);
  } else {
    *--end = static_cast<char>('0' + value);
  }
  return end;
}

// Digits are made in a buffer that ends digits_end bytes in, so that put_padded may always
// copy a whole digit_copy bytes, which compiles to two moves.
constexpr int digit_copy = 24;
constexpr int digits_end = 32;
constexpr int digit_room = digits_end + digit_copy;

// Copies the text from first to end right-aligned in width, as printf pads; answers the end.
// Writes up to digit_copy bytes past the answer.
char* put_padded(char* out, const char* first, const char* end, int width) {
  auto n = static_cast<int>(end - first);
  for (int i = n; i < width; ++i) *out++ = ' ';
  std::memcpy(out, first, digit_copy);
  return out + n;
}

char* put_decimal(char* out, uint64_t value, int width) {
  if (value < 10 && width <= 1) {  // the bus and the length, nearly always
    *out = static_cast<char>('0' + value);
    return out + 1;
  }
  char digits[digit_room];
  char* end = digits + digits_end;
  return put_padded(out, digits_before(end, value), end, width);
}

template <int Decimals>
char* put_fixed(char* out, double value, int width) {
  constexpr uint64_t unit = Decimals == 1 ? 10 : Decimals == 2 ? 100 : 1000;
  if (!(value >= 0) || std::signbit(value)) return nullptr;
  double scaled = value * static_cast<double>(unit);
  if (!(scaled < 1e14)) return nullptr;
  // Below 2^51 adding a half is exact, so truncating rounds half up. A product that lands on a
  // tie (or within a hair of one) is left to the C formatter: rounding the product is
  // monotonic, so on either side of that margin it rounds as the exact value does.
  double shifted = scaled + 0.5;
  auto units = static_cast<uint64_t>(shifted);
  double past_tie = shifted - static_cast<double>(units);
  double margin = scaled * 1e-15 + 1e-12;
  if (past_tie <= margin || past_tie >= 1 - margin) return nullptr;

  char digits[digit_room];
  char* end = digits + digits_end;
  char* first = end;
  uint64_t fraction = units % unit;
  for (int i = 0; i < Decimals; ++i) {
    *--first = static_cast<char>('0' + fraction % 10);
    fraction /= 10;
  }
  *--first = '.';
  first = digits_before(first, units / unit);
  return put_padded(out, first, end, width);
}

// "%0<width>X" for a width of 4 or 8.
char* put_hex(char* out, uint32_t value, int width) {
  static const char digits[] = "0123456789ABCDEF";
  int n = 8;
  while (n > width && (value >> (4 * (n - 1))) == 0) --n;
  for (int i = n - 1; i >= 0; --i) *out++ = digits[(value >> (4 * i)) & 15];
  return out;
}

template <size_t N>
char* put_text(char* out, const char (&text)[N]) {
  std::memcpy(out, text, N - 1);
  return out + N - 1;
}

// The two letters of a direction or a 2.1 type.
char* put_two(char* out, const char* letters) {
  std::memcpy(out, letters, 2);
  return out + 2;
}

// The data bytes as uppercase hex pairs with a blank between them.
char* put_data(char* out, const CanRecord& record) {
  static const char digits[] = "0123456789ABCDEF";
  const auto* bytes = reinterpret_cast<const unsigned char*>(record.data.data());
  for (int64_t i = 0; i < record.data.size(); ++i) {
    if (i > 0) *out++ = ' ';
    *out++ = digits[bytes[i] >> 4];
    *out++ = digits[bytes[i] & 15];
  }
  return out;
}

// Room for the longest line made by hand: a number, an offset, at most 8 data bytes.
constexpr int line_room = 160;

// Where a record line made by hand goes: the line's spare room. Null for a record left to
// stb_sprintf (a negative number) or when memory runs out.
char* room_by_hand(SmallString& line, int64_t number) {
  if (number < 0) return nullptr;
  char* text = line.reserve(line.size() + line_room);
  return text != nullptr ? text + line.size() : nullptr;
}

}  // namespace

int format_fixed_by_hand(char* out, double value, int width, int decimals) {
  char* end = decimals == 1   ? put_fixed<1>(out, value, width)
              : decimals == 2 ? put_fixed<2>(out, value, width)
              : decimals == 3 ? put_fixed<3>(out, value, width)
                              : nullptr;
  return end != nullptr ? static_cast<int>(end - out) : 0;
}

//      1)         0.0 Rx        0123 8  11 22 33 44 55 66 77 88
void trc11_append_record_plain(SmallString& line, int64_t number, double offset_ms,
                               const CanRecord& record) {
  small_string_format_append(line,
                             record.extended == 1 ? "%6lld) %11.1f %s    %08X %d  "
                                                  : "%6lld) %11.1f %s        %04X %d  ",
                             static_cast<long long>(number), offset_ms, direction(record),
                             record.id, record.length);
  if (record.rtr != 0) {
    line.append(StrView("RTR"));
  } else {
    append_data(line, record);
  }
  line.append("\n", 1);
}

void trc11_append_record(SmallString& line, int64_t number, double offset_ms,
                         const CanRecord& record) {
  char* text = room_by_hand(line, number);
  char* out = nullptr;
  if (text != nullptr) {
    out = put_decimal(text, static_cast<uint64_t>(number), 6);
    out = put_text(out, ") ");
    out = put_fixed<1>(out, offset_ms, 11);
  }
  if (out == nullptr) {
    trc11_append_record_plain(line, number, offset_ms, record);
    return;
  }
  *out++ = ' ';
  out = put_two(out, direction(record));
  out = record.extended == 1 ? put_text(out, "    ") : put_text(out, "        ");
  out = put_hex(out, record.id, record.extended == 1 ? 8 : 4);
  *out++ = ' ';
  out = put_decimal(out, record.length, 1);
  out = put_text(out, "  ");
  out = record.rtr != 0 ? put_text(out, "RTR") : put_data(out, record);
  *out++ = '\n';
  line.extend(out - text);
}

namespace {

const char* trc21_type(const CanRecord& record) {
  if (record.fd == 1) {
    if (record.brs == 1) return record.esi == 1 ? "BI" : "FB";
    return record.esi == 1 ? "FE" : "FD";
  }
  return record.rtr == 1 ? "RR" : "DT";
}

// The reserved column, where the version has it, is a "-" after the direction.
//       1         0.000 DT 1     0123 Rx 8    11 22 33 44 55 66 77 88
//       1         0.000 DT 1     0123 Rx - 8    11 22 33 44 55 66 77 88
void trc21_plain(SmallString& line, int64_t number, double offset_ms, const CanRecord& record,
                 bool reserved) {
  small_string_format_append(line,
                             record.extended == 1 ? "%7lld %13.3f %s %d %08X %s %s%d"
                                                  : "%7lld %13.3f %s %d     %04X %s %s%d",
                             static_cast<long long>(number), offset_ms, trc21_type(record),
                             record.bus, record.id, direction(record), reserved ? "- " : "",
                             record.length);
  line.append(StrView(record.length < 10 ? "    " : "   "));
  if (record.rtr == 0) append_data(line, record);
  line.append("\n", 1);
}

template <bool Reserved>
void trc21_by_hand(SmallString& line, int64_t number, double offset_ms, const CanRecord& record) {
  char* text = room_by_hand(line, number);
  char* out = nullptr;
  if (text != nullptr) {
    out = put_decimal(text, static_cast<uint64_t>(number), 7);
    *out++ = ' ';
    out = put_fixed<3>(out, offset_ms, 13);
  }
  if (out == nullptr) {
    trc21_plain(line, number, offset_ms, record, Reserved);
    return;
  }
  *out++ = ' ';
  out = put_two(out, trc21_type(record));
  *out++ = ' ';
  out = put_decimal(out, record.bus, 1);
  out = record.extended == 1 ? put_text(out, " ") : put_text(out, "     ");
  out = put_hex(out, record.id, record.extended == 1 ? 8 : 4);
  *out++ = ' ';
  out = put_two(out, direction(record));
  *out++ = ' ';
  if constexpr (Reserved) out = put_text(out, "- ");
  out = put_decimal(out, record.length, 1);
  out = record.length < 10 ? put_text(out, "    ") : put_text(out, "   ");
  if (record.rtr == 0) out = put_data(out, record);
  *out++ = '\n';
  line.extend(out - text);
}

}  // namespace

void trc21_append_record_plain(SmallString& line, int64_t number, double offset_ms,
                               const CanRecord& record) {
  trc21_plain(line, number, offset_ms, record, false);
}

void trc21_append_record(SmallString& line, int64_t number, double offset_ms,
                         const CanRecord& record) {
  trc21_by_hand<false>(line, number, offset_ms, record);
}

void trc21r_append_record_plain(SmallString& line, int64_t number, double offset_ms,
                                const CanRecord& record) {
  trc21_plain(line, number, offset_ms, record, true);
}

void trc21r_append_record(SmallString& line, int64_t number, double offset_ms,
                          const CanRecord& record) {
  trc21_by_hand<true>(line, number, offset_ms, record);
}

// The two versions differ in more than their layout, and the rows keep each difference as it
// has always been, since traces written so far and the tools that read them rely on it:
// - a record line that does not go out whole: 1.1 says "Could not write CAN data", 2.1 leaves
//   the report to the conversion's own error;
// - a remote frame: 1.1 shows "RTR" in place of the data for any non-zero rtr, 2.1 types the
//   line "RR" only for rtr 1 (and drops the data for any non-zero rtr);
// - CAN FD frames: 1.1 cannot hold them and skips them without a message number.
// 2.1 with the reserved column is 2.1 in all of these.
constexpr TrcVersion versions[] = {
    {TRC_VERSION_1_1, ";$FILEVERSION=1.1\n", nullptr, trc11_append_record, true,
     "Could not write CAN data"},
    {TRC_VERSION_2_1, ";$FILEVERSION=2.1\n", ";$COLUMNS=N,O,T,B,I,d,L,D\n", trc21_append_record,
     false, nullptr},
    {TRC_VERSION_2_1_RESERVED, ";$FILEVERSION=2.1\n", ";$COLUMNS=N,O,T,B,I,d,R,L,D\n",
     trc21r_append_record, false, nullptr},
};

const TrcVersion* trc_version(int32_t number) {
  for (const TrcVersion& version : versions) {
    if (version.number == number) return &version;
  }
  return nullptr;
}

void trc_append_header(SmallString& line, const TrcVersion& version, double start_time) {
  line.append(StrView(version.version_line));
  line.append(StrView(";$STARTTIME="));
  trc_append_start_time(line, start_time);
  if (version.columns_line != nullptr) line.append(StrView(version.columns_line));
}

}  // namespace velmarch
