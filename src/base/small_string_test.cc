#include "base/small_string.h"

#include <gtest/gtest.h>

#include <string>

namespace velmarch {
namespace {

TEST(SmallString, ZeroObjectIsEmptyAndTerminated) {
  SmallString s;
  EXPECT_EQ(s.size(), 0);
  EXPECT_STREQ(s.c_str(), "");
  EXPECT_TRUE(s.view().empty());
}

TEST(SmallString, KeepsNulBytesAndCapacityOnClear) {
  SmallString s;
  const char bytes[] = {'a', '\0', 'b', '\0'};
  s.append(bytes, 4);
  EXPECT_EQ(s.size(), 4);
  EXPECT_EQ(s.view(), StrView(bytes, 4));
  int64_t capacity = s.capacity();
  s.clear();
  EXPECT_EQ(s.size(), 0);
  EXPECT_EQ(s.capacity(), capacity);
}

TEST(SmallString, AppendOfOwnContentDoubles) {
  SmallString s(StrView("abcdefgh"));
  s.append(s.data(), s.size());
  EXPECT_EQ(s.view(), "abcdefghabcdefgh");
  small_string_insert(s, 2, s.data(), 3);
  EXPECT_EQ(s.view(), "ababccdefghabcdefgh");
}

TEST(SmallString, InsertAtEndsAndMiddle) {
  SmallString s(StrView("logs/"));
  small_string_insert(s, 4, "_out", 4);
  EXPECT_EQ(s.view(), "logs_out/");
  small_string_insert(s, s.size(), "x", 1);
  small_string_insert(s, 0, ">", 1);
  EXPECT_EQ(s.view(), ">logs_out/x");
}

TEST(SmallString, PrintfAppendAndAssign) {
  SmallString s(StrView("id="));
  EXPECT_EQ(small_string_printf_append(s, "%s-%03d", "x", 7), 5);
  EXPECT_EQ(s.view(), "id=x-007");
  EXPECT_EQ(small_string_printf_assign(s, "%s", "LOGGERID"), 8);
  EXPECT_EQ(s.view(), "LOGGERID");
}

class FormatAppend : public ::testing::Test {
 protected:
  void SetUp() override {
    s.reserve(16);
    s.append("abcd", 4);  // 12 bytes of spare room
  }
  SmallString s;
};

TEST_F(FormatAppend, TextThatFillsTheSpareRoomFitsFirstPass) {
  char* p = small_string_format_append(s, "%012d", 42);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p, s.data() + 4);
  EXPECT_EQ(s.view(), "abcd000000000042");
  EXPECT_EQ(s.capacity(), 16);
}

TEST_F(FormatAppend, OneMoreCharacterGrowsByTheTextLength) {
  ASSERT_NE(small_string_format_append(s, "%013d", 42), nullptr);
  EXPECT_EQ(s.view(), "abcd0000000000042");
  EXPECT_EQ(s.capacity(), 16 + 13);
}

TEST_F(FormatAppend, EmptyTextAppendsNothing) {
  EXPECT_EQ(small_string_format_append(s, "%s", ""), nullptr);
  EXPECT_EQ(s.view(), "abcd");
}

TEST_F(FormatAppend, ContentWithNulBytesIsKept) {
  s.append("\0\0", 2);
  ASSERT_NE(small_string_format_append(s, "%7.3f|%04X", 12.0, 0x7FF), nullptr);
  EXPECT_EQ(s.view(), std::string("abcd\0\0 12.000|07FF", 18));
}

TEST(FormatAppendUnreserved, WorksOnAZeroString) {
  SmallString s;
  ASSERT_NE(small_string_format_append(s, "%6d)", 1), nullptr);
  EXPECT_EQ(s.view(), "     1)");
}

TEST(AppendHex, WidthsSeparatorsAndCase) {
  const unsigned char bytes[] = {0x01, 0xAB, 0x00, 0xFF, 0x10, 0x20, 0x30, 0x7f};
  SmallString s;
  small_string_append_hex(s, bytes, 8, ' ', 1);
  EXPECT_EQ(s.size(), 23);
  EXPECT_EQ(s.view(), "01 AB 00 FF 10 20 30 7F");

  s.clear();
  small_string_append_hex(s, bytes, 8, '\0', 1);
  EXPECT_EQ(s.size(), 16);
  EXPECT_EQ(s.view(), "01AB00FF1020307F");

  s.clear();
  small_string_append_hex(s, bytes, 2, ' ', 2);  // only exactly 1 means uppercase
  EXPECT_EQ(s.view(), "01 ab");

  SmallString untouched;
  small_string_append_hex(untouched, bytes, 0, ' ', 1);
  EXPECT_EQ(untouched.size(), 0);
  EXPECT_EQ(untouched.capacity(), 0);  // no reservation either
}

TEST(AppendHex, AppendsAfterExistingText) {
  SmallString s(StrView("8  "));
  const unsigned char bytes[] = {0x11, 0x22};
  small_string_append_hex(s, bytes, 2, ' ', 1);
  EXPECT_EQ(s.view(), "8  11 22");
}

}  // namespace
}  // namespace velmarch
