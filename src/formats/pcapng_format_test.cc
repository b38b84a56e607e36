#include "formats/pcapng_format.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/test_frames.h"
#include "testing/masked_log.h"
#include "testing/memory_stream.h"

namespace velmarch {
namespace {

uint32_t word(const std::string& bytes, size_t at, bool big_endian = false) {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) {
    value = value << 8 | static_cast<uint8_t>(bytes[at + (big_endian ? i : 3 - i)]);
  }
  return value;
}

// The blocks of a file, each a whole number of words that ends with its length again.
std::vector<std::string> blocks_of(const std::string& file) {
  std::vector<std::string> blocks;
  for (size_t at = 0; at + 12 <= file.size();) {
    uint32_t length = word(file, at + 4);
    if (length % 4 != 0 || length < 12 || at + length > file.size() ||
        word(file, at + length - 4) != length) {
      ADD_FAILURE() << "bad block at " << at;
      break;
    }
    blocks.push_back(file.substr(at, length));
    at += length;
  }
  return blocks;
}

TEST(PcapngFormat, BlocksDecodeToTheFrames) {
  auto format = pcapng_format_create();
  ASSERT_TRUE(format);
  EXPECT_EQ(format->extension(), ".pcapng");
  std::vector<CanRecord> frames = worked_example();
  frames[2].rtr = 1;
  frames[2].length = 2;  // the length a remote frame asks for
  MemoryStream out;
  EXPECT_EQ(run_format(*format, out, frames), 3);
  std::vector<std::string> blocks = blocks_of(out.content());
  ASSERT_EQ(blocks.size(), 5U);

  // Section 1.0 in little-endian order, of no stated length.
  EXPECT_EQ(blocks[0], std::string("\x0A\x0D\x0D\x0A\x1C\0\0\0\x4D\x3C\x2B\x1A\x01\0\0\0", 16) +
                           std::string(8, '\xFF') + std::string("\x1C\0\0\0", 4));
  // LINKTYPE_CAN_SOCKETCAN, snap length 16; if_name "can0", if_tsresol 9 padded to a word.
  EXPECT_EQ(blocks[1].substr(8, 32),
            std::string("\xE3\0\0\0\x10\0\0\0\x02\0\x04\0can0\x09\0\x01\0\x09\0\0\0\0\0\0\0", 28) +
                std::string("\x28\0\0\0", 4));

  const uint64_t nanoseconds[] = {1729163153123000000, 1729163153135000000, 1729163154635000000};
  const uint32_t ids[] = {0x123, 0x80000000 | 0x18FF1234, 0x40000000 | 0x7FF};
  const std::string data[] = {"\x11\x22\x33\x44\x55\x66\x77\x88",
                              std::string("\x01\x02\x03\0\0\0\0\0", 8), std::string(8, '\0')};
  const unsigned lengths[] = {8, 3, 2};
  const uint32_t directions[] = {1, 2, 1};  // inbound, outbound
  for (int i = 0; i < 3; ++i) {
    const std::string& packet = blocks[2 + i];
    SCOPED_TRACE(i);
    EXPECT_EQ(word(packet, 0), 6U);
    EXPECT_EQ(word(packet, 8), 0U);  // interface 0
    EXPECT_EQ(uint64_t{word(packet, 12)} << 32 | word(packet, 16), nanoseconds[i]);
    EXPECT_EQ(word(packet, 20), 16U);
    EXPECT_EQ(word(packet, 24), 16U);
    EXPECT_EQ(word(packet, 28, true), ids[i]);  // network byte order
    EXPECT_EQ(static_cast<uint8_t>(packet[32]), lengths[i]);
    EXPECT_EQ(packet.substr(33, 3), std::string(3, '\0'));
    EXPECT_EQ(packet.substr(36, 8), data[i]);
    // epb_flags, then the end of the options.
    EXPECT_EQ(packet.substr(44, 4), std::string("\x02\0\x04\0", 4));
    EXPECT_EQ(word(packet, 48), directions[i]);
    EXPECT_EQ(word(packet, 52), 0U);
  }
}

TEST(PcapngFormat, NothingWithoutFramesAndShortWritesAreTold) {
  auto format = pcapng_format_create();
  MemoryStream empty;
  EXPECT_EQ(run_format(*format, empty, {}), 0);
  EXPECT_EQ(empty.content(), "");

  for (int64_t budget : {67, 68 + 60 + 59}) {
    MemoryStream out;
    out.write_budget = budget;
    testing::internal::CaptureStderr();
    EXPECT_EQ(run_format(*format, out, worked_example()), -1);
    EXPECT_EQ(masked_log(testing::internal::GetCapturedStderr()),
              std::vector<std::string>{budget < 68 ? "E Could not write CAN header"
                                                   : "E Could not write CAN data"});
  }
  auto other = format->another();
  ASSERT_TRUE(other);
  MemoryStream out;
  EXPECT_EQ(run_format(*other, out, worked_example()), 3);
}

}  // namespace
}  // namespace velmarch
