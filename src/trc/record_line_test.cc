// Record lines formatted by hand against the same lines through stb_sprintf, over generated
// records and offsets, odd ones included: halfway cases, large and negative values, wide ids.

#include <gtest/gtest.h>
#include <stb/stb_sprintf.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>

#include "trc/trc_format.h"

namespace velmarch {
namespace {

std::string with_stb(double value, int width, int decimals) {
  char text[512];
  stbsp_snprintf(text, sizeof text, "%*.*f", width, decimals, value);
  return text;
}

// Offsets as conversions make them, and values built to sit on or next to a rounding tie.
double random_offset(std::mt19937_64& rng) {
  std::uniform_int_distribution<int64_t> ms(0, 90'000'000'000LL);
  switch (rng() % 6) {
    case 0: {  // a timestamp difference, as the writer computes it
      double start = 1.7e9 + static_cast<double>(rng() % 100000000) * 0.001;
      double later = start + static_cast<double>(ms(rng) % 3'000'000'000LL) * 0.001;
      return (later - start) * 1000;
    }
    case 1:  // halfway in the last printed decimal, and one unit either side
      return std::nextafter((static_cast<double>(ms(rng)) + 0.5) / 1000,
                            rng() % 3 ? 0.0 : 1e300);
    case 2:
      return (static_cast<double>(ms(rng) % 100000) * 10 + 5) / 100;  // x.x5
    case 3:
      return std::ldexp(static_cast<double>(rng() % 1000000), static_cast<int>(rng() % 80) - 30);
    case 4:
      return -static_cast<double>(ms(rng)) / 7;
    default:
      return static_cast<double>(ms(rng)) / 1000;
  }
}

TEST(FixedFormat, ByHandGivesWhatStbGives) {
  std::mt19937_64 rng(21);
  int by_hand = 0;
  for (int i = 0; i < 400000; ++i) {
    double value = random_offset(rng);
    int decimals = 1 + static_cast<int>(rng() % 3);
    int width = rng() % 2 ? 13 : 11;
    char out[40];
    int n = format_fixed_by_hand(out, value, width, decimals);
    if (n == 0) continue;
    ++by_hand;
    ASSERT_EQ(std::string(out, static_cast<size_t>(n)), with_stb(value, width, decimals))
        << std::hexfloat << value;
  }
  EXPECT_GT(by_hand, 250000);  // the hand path is the common one
}

TEST(FixedFormat, OddValuesAreLeftToStb) {
  char out[40];
  for (double value : {-1.0, -0.0, std::numeric_limits<double>::quiet_NaN(),
                       std::numeric_limits<double>::infinity(), 1e300}) {
    EXPECT_EQ(format_fixed_by_hand(out, value, 13, 3), 0) << value;
  }
  // Halfway between two outputs: whichever way it goes, stb decides.
  EXPECT_EQ(format_fixed_by_hand(out, 0.25, 11, 1), 0);
  EXPECT_EQ(format_fixed_by_hand(out, 1234.5625, 13, 3), 0);
  EXPECT_EQ(std::string(out, static_cast<size_t>(format_fixed_by_hand(out, 0.0, 13, 3))),
            "        0.000");
}

CanRecord random_record(std::mt19937_64& rng) {
  CanRecord record;
  record.bus = static_cast<uint8_t>(rng() % 4 == 0 ? rng() % 256 : 1);
  record.extended = static_cast<uint8_t>(rng() % 3 == 0 ? rng() % 3 : rng() % 2);
  record.id = rng() % 4 == 0 ? static_cast<uint32_t>(rng()) : static_cast<uint32_t>(rng() % 0x800);
  record.tx = static_cast<uint8_t>(rng() % 2);
  record.fd = static_cast<uint8_t>(rng() % 5 == 0);
  record.brs = static_cast<uint8_t>(rng() % 2);
  record.esi = static_cast<uint8_t>(rng() % 2);
  record.rtr = static_cast<uint8_t>(rng() % 6 == 0 ? 1 + rng() % 2 : 0);
  record.length = static_cast<uint8_t>(rng() % 5 == 0 ? rng() % 256 : rng() % 9);
  size_t bytes = rng() % 9;
  for (size_t i = 0; i < bytes; ++i) {
    auto byte = static_cast<uint8_t>(rng());
    record.data.append(&byte, 1);
  }
  record.kind = 1;
  return record;
}

int64_t random_number(std::mt19937_64& rng) {
  switch (rng() % 5) {
    case 0: return static_cast<int64_t>(rng() % 10'000'000'000ULL);
    case 1: return -static_cast<int64_t>(rng() % 1000);
    default: return static_cast<int64_t>(1 + rng() % 2'000'000);
  }
}

TEST(TrcRecordLines, ByHandGiveWhatStbGives) {
  struct Pair {
    const char* version;
    RecordFormatter plain;
    RecordFormatter by_hand;
  };
  const Pair pairs[] = {{"1.1", trc11_append_record_plain, trc11_append_record},
                        {"2.1", trc21_append_record_plain, trc21_append_record},
                        {"2.1 with R", trc21r_append_record_plain, trc21r_append_record}};
  std::mt19937_64 rng(22);
  for (int i = 0; i < 300000; ++i) {
    CanRecord record = random_record(rng);
    int64_t number = random_number(rng);
    double offset = random_offset(rng);
    const Pair& pair = pairs[i % 3];
    SmallString plain, fast;
    pair.plain(plain, number, offset, record);
    pair.by_hand(fast, number, offset, record);
    ASSERT_EQ(fast.view(), plain.view()) << "version " << pair.version;
  }
}

CanRecord example_frame(uint32_t id, uint8_t extended_and_tx, StrView data) {
  CanRecord record;
  record.bus = CAN_RECORD_BUS;
  record.id = id;
  record.extended = extended_and_tx;
  record.tx = extended_and_tx;
  record.data.append(data.data(), data.size());
  record.length = static_cast<uint8_t>(data.size());
  return record;
}

// The worked example's first two frames, laid out as python-can 4.1's reader takes them: by
// position, the reserved column included.
TEST(TrcRecordLines, ReservedColumnFollowsTheDirection) {
  const TrcVersion* version = trc_version(TRC_VERSION_2_1_RESERVED);
  ASSERT_NE(version, nullptr);
  EXPECT_EQ(trc_version(4), nullptr);
  SmallString file;
  trc_append_header(file, *version, 1729163153.123);
  version->append_record(file, 1, 0, example_frame(0x123, 0, "\x11\x22\x33\x44\x55\x66\x77\x88"));
  version->append_record(file, 2, 12, example_frame(0x18FF1234, 1, "\x01\x02\x03"));
  EXPECT_EQ(file.view(),
            ";$FILEVERSION=2.1\n"
            ";$STARTTIME=45582.4624204051\n"
            ";$COLUMNS=N,O,T,B,I,d,R,L,D\n"
            "      1         0.000 DT 1     0123 Rx - 8    11 22 33 44 55 66 77 88\n"
            "      2        12.000 DT 1 18FF1234 Tx - 3    01 02 03\n");
}

TEST(TrcRecordLines, LinesAreAppended) {
  CanRecord record;
  record.id = 0x123;
  record.length = 2;
  uint8_t bytes[] = {0xAB, 0x01};
  record.data.append(bytes, 2);
  SmallString line(StrView("kept|"));
  trc21_append_record(line, 12, 1.5, record);
  trc11_append_record(line, 12, 1.5, record);
  EXPECT_EQ(line.view(),
            "kept|     12         1.500 DT 0     0123 Rx 2    AB 01\n"
            "    12)         1.5 Rx        0123 2  AB 01\n");
}

// Message numbers past the column's width widen it, and a counter past 32 bits does not wrap.
TEST(TrcRecordLines, LargeMessageNumbersWiden) {
  CanRecord record;
  for (int64_t number : {9999999LL, 10000000LL, 2147483648LL}) {
    SmallString line;
    trc21_append_record(line, number, 0, record);
    EXPECT_EQ(line.view().substr(0, line.view().find(' ')), std::to_string(number));
  }
}

}  // namespace
}  // namespace velmarch
