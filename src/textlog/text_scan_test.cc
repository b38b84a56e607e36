#include "textlog/text_scan.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "platform/platform.h"

namespace velmarch {
namespace {

// Characters that exercise every branch: white space, signs, the "0x" prefix, digits of both
// bases, letters beyond "f", separators and bytes above 127.
const std::string alphabet = " \t\n\v\f\r+-00xX0123456789abcdefABCDEFgGzT:;.\x80\xff";

// Mostly digits, as real identifiers, lengths and data are, so that runs of every length up to
// and past eight digits come up often.
const std::string mostly_hex = "0123456789abcdefABCDEF0123456789ABCDEF;\n x";

// The reference is the sscanf of 64-bit Linux; other C libraries read overflowing or signed
// fields their own way.
bool reference_at_hand() { return std::string(platform_name()) == "posix"; }

std::string random_field(std::mt19937& rng, size_t max_length, const std::string& letters) {
  std::uniform_int_distribution<size_t> length(0, max_length);
  std::uniform_int_distribution<size_t> pick(0, letters.size() - 1);
  std::string s(length(rng), ' ');
  for (char& c : s) c = letters[pick(rng)];
  return s;
}

TEST(TextScan, HexU32MatchesSscanf) {
  if (!reference_at_hand()) GTEST_SKIP() << "needs the sscanf of 64-bit Linux";
  std::mt19937 rng(1);
  for (int i = 0; i < 200000; ++i) {
    std::string s = random_field(rng, i % 2 ? 10 : 24, i % 3 ? alphabet : mostly_hex);
    unsigned expected = 0xDEADBEEF;
    bool expected_ok = std::sscanf(s.c_str(), "%x", &expected) == 1;
    uint32_t got = 0xDEADBEEF;
    ASSERT_EQ(scan_hex_u32(s.c_str(), &got), expected_ok) << '[' << s << ']';
    ASSERT_EQ(got, expected) << '[' << s << ']';
  }
}

TEST(TextScan, DecimalU8MatchesSscanf) {
  if (!reference_at_hand()) GTEST_SKIP() << "needs the sscanf of 64-bit Linux";
  std::mt19937 rng(2);
  for (int i = 0; i < 200000; ++i) {
    std::string s = random_field(rng, i % 2 ? 5 : 24, i % 3 ? alphabet : mostly_hex);
    unsigned char expected = 0xA5;
    bool expected_ok = std::sscanf(s.c_str(), "%hhu", &expected) == 1;
    uint8_t got = 0xA5;
    ASSERT_EQ(scan_decimal_u8(s.c_str(), &got), expected_ok) << '[' << s << ']';
    ASSERT_EQ(got, expected) << '[' << s << ']';
  }
}

TEST(TextScan, HexPairMatchesSscanf) {
  if (!reference_at_hand()) GTEST_SKIP() << "needs the sscanf of 64-bit Linux";
  std::mt19937 rng(3);
  for (int i = 0; i < 200000; ++i) {
    std::string s = random_field(rng, i % 2 ? 4 : 20, i % 3 ? alphabet : mostly_hex);
    unsigned char expected = 0xA5;
    bool expected_ok = std::sscanf(s.c_str(), "%2hhx", &expected) == 1;
    uint8_t got = 0xA5;
    ASSERT_EQ(scan_hex_pair(s.c_str(), &got), expected_ok) << '[' << s << ']';
    ASSERT_EQ(got, expected) << '[' << s << ']';
  }
}

TEST(TextScan, TimeFieldsMatchSscanf) {
  if (!reference_at_hand()) GTEST_SKIP() << "needs the sscanf of 64-bit Linux";
  std::mt19937 rng(4);
  // Mostly digits, as composed timestamps are, with the odd stray character.
  const std::string mostly_digits = "01234567890123456789012345678901234567890123456789" + alphabet;
  for (int i = 0; i < 200000; ++i) {
    std::string s = random_field(rng, 17, i % 3 ? mostly_digits : alphabet);
    unsigned expected[7] = {7, 7, 7, 7, 7, 7, 7};
    int expected_count =
        std::sscanf(s.c_str(), "%4u%2u%2u%2u%2u%2u%3u", &expected[0], &expected[1], &expected[2],
                    &expected[3], &expected[4], &expected[5], &expected[6]);
    unsigned got[7] = {7, 7, 7, 7, 7, 7, 7};
    ASSERT_EQ(scan_time_fields(s.c_str(), got), expected_count) << '[' << s << ']';
    for (int f = 0; f < 7; ++f) ASSERT_EQ(got[f], expected[f]) << '[' << s << "] field " << f;
  }
}

TEST(TextScan, ChosenCases) {
  uint32_t id = 0;
  EXPECT_TRUE(scan_hex_u32("1F334455", &id));
  EXPECT_EQ(id, 0x1F334455u);
  EXPECT_TRUE(scan_hex_u32("0x", &id));  // the C library keeps the "0"
  EXPECT_EQ(id, 0u);
  EXPECT_TRUE(scan_hex_u32("-1", &id));
  EXPECT_EQ(id, 0xFFFFFFFFu);
  EXPECT_TRUE(scan_hex_u32("123456789ABCDEF0123", &id));  // beyond 64 bits: ULONG_MAX, cut
  EXPECT_EQ(id, 0xFFFFFFFFu);
  EXPECT_FALSE(scan_hex_u32("+", &id));
  EXPECT_FALSE(scan_hex_u32("G1", &id));
  uint8_t byte = 0;
  EXPECT_TRUE(scan_decimal_u8("300", &byte));
  EXPECT_EQ(byte, 44);
  EXPECT_TRUE(scan_hex_pair(" \t12", &byte));  // white space is skipped before the width
  EXPECT_EQ(byte, 0x12);
  EXPECT_TRUE(scan_hex_pair("-1", &byte));
  EXPECT_EQ(byte, 0xFF);
  EXPECT_EQ(scan_hex_pair("   ", &byte), false);
  unsigned f[7] = {};
  EXPECT_EQ(scan_time_fields("20170307113030123", f), 7);
  EXPECT_EQ(f[0], 2017u);
  EXPECT_EQ(f[6], 123u);
  EXPECT_EQ(scan_time_fields("", f), -1);
}

}  // namespace
}  // namespace velmarch
