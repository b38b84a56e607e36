// Lines as the reader takes them: cut, their line ends, zero bytes and read errors.

#include "textlog/text_lines.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "stream/buffered_stream.h"
#include "testing/memory_stream.h"

namespace velmarch {
namespace {

std::vector<std::string> lines_of(const std::string& text, bool* failed_out = nullptr,
                                  int64_t fail_from = -1) {
  MemoryStream stream(text);
  stream.fail_reads_from = fail_from;
  std::vector<std::string> lines;
  char line[TEXT_LINE_BUFFER];
  bool failed = false;
  for (;;) {
    size_t n = read_text_line(stream, line, failed);
    EXPECT_EQ(n, std::strlen(line));
    if (n == 0) break;
    lines.emplace_back(line, n);
  }
  if (failed_out != nullptr) *failed_out = failed;
  return lines;
}

TEST(ReadTextLine, LineFeedKeptCarriageReturnsDropped) {
  EXPECT_EQ(lines_of("ab\r\ncd\n"), (std::vector<std::string>{"ab\n", "cd\n"}));
  EXPECT_EQ(lines_of("a\rb\r\r\n"), (std::vector<std::string>{"ab\n"}));
  EXPECT_EQ(lines_of("\n\nx"), (std::vector<std::string>{"\n", "\n", "x"}));
  EXPECT_TRUE(lines_of("").empty());
}

TEST(ReadTextLine, LongLineIsCutAt199Characters) {
  std::string long_line(250, 'a');
  long_line[199] = 'b';
  auto lines = lines_of(long_line + "\nnext\n");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], std::string(199, 'a'));
  EXPECT_EQ(lines[1], "b" + std::string(50, 'a') + "\n");
  EXPECT_EQ(lines[2], "next\n");
  // Carriage returns are not stored and do not count.
  std::string with_cr;
  for (int i = 0; i < 198; ++i) with_cr += "x\r";
  EXPECT_EQ(lines_of(with_cr + "\n"), (std::vector<std::string>{std::string(198, 'x') + "\n"}));
}

// Read as a line of its own, the line feed would be an empty record stamped with the header's
// time, which would count as a rollover and move every later frame a whole period on.
TEST(ReadTextLine, LineOfExactly199CharactersKeepsItsLineFeed) {
  const std::string full(199, 'c');
  EXPECT_EQ(lines_of(full + "\n"), (std::vector<std::string>{full + "\n"}));
  EXPECT_EQ(lines_of(full + "\r\r\nx\n"), (std::vector<std::string>{full + "\n", "x\n"}));
  EXPECT_EQ(lines_of(full + "x\n"), (std::vector<std::string>{full, "x\n"}));
  EXPECT_EQ(lines_of(full), (std::vector<std::string>{full}));
  // The same through a read buffer, whose end may fall anywhere around the line feed.
  for (uint64_t size : {8, 200, 208, 4096}) {
    MemoryStream inner(full + "\r\nx\n");
    auto buffered = buffered_stream_open(inner, size);
    char line[TEXT_LINE_BUFFER];
    bool failed = false;
    ASSERT_EQ(read_text_line(*buffered, line, failed), 200u) << size;
    EXPECT_EQ(read_text_line(*buffered, line, failed), 2u) << size;
  }
}

TEST(ReadTextLine, ZeroByteEndsTheText) {
  EXPECT_EQ(lines_of(std::string("ab\0cd\nef\n", 9)), (std::vector<std::string>{"ab", "ef\n"}));
  // A zero byte first on a line must not pass for the end of the file: what follows would be
  // lost, and the input deleted as converted.
  EXPECT_EQ(lines_of(std::string("\0\0x\nef\n\0\0", 9)),
            (std::vector<std::string>{"\n", "ef\n", "\n"}));
}

TEST(ReadTextLine, ReadErrorIsToldFromTheEnd) {
  bool failed = true;
  lines_of("ab\ncd\n", &failed);
  EXPECT_FALSE(failed);
  auto lines = lines_of("ab\ncd\n", &failed, 4);
  EXPECT_TRUE(failed);
  EXPECT_EQ(lines, (std::vector<std::string>{"ab\n", "c"}));
}

}  // namespace
}  // namespace velmarch
