#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "testing/memory_stream.h"
#include "stream/buffered_stream.h"
#include "stream/file_stream.h"

namespace velmarch {
namespace {

const std::string twenty = "0123456789abcdefghij";

TEST(ByteStream, NullStreamAnswers) {
  std::unique_ptr<ByteStream> none;
  EXPECT_TRUE(byte_stream_close(none).ok());
  EXPECT_FALSE(byte_stream_size(nullptr).ok());
}

TEST(ByteStream, BaseAnswersAbsentSlots) {
  ByteStream base;
  char c;
  EXPECT_TRUE(byte_stream_read(base, &c, 1).status().is_absent());
  EXPECT_TRUE(byte_stream_write(base, &c, 1).status().is_absent());
  EXPECT_TRUE(byte_stream_tell(base).status().is_absent());
  EXPECT_TRUE(byte_stream_seek(base, 0, SEEK_SET).status().is_absent());
  EXPECT_TRUE(base.close().ok());
  EXPECT_TRUE(byte_stream_size(&base).status().is_absent());
}

class FileStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/velmarch-stream-XXXXXX";
    int fd = mkstemp(pattern);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, twenty.data(), twenty.size()), 20);
    close(fd);
    path = pattern;
  }
  void TearDown() override { std::remove(path.c_str()); }
  std::string path;
};

TEST_F(FileStreamTest, ModesDecideWhichSlotsWork) {
  auto reader = file_stream_open(path.c_str(), FILE_STREAM_READ).value();
  ASSERT_TRUE(reader);
  char buffer[32];
  EXPECT_TRUE(byte_stream_write(*reader, "x", 1).status().is_absent());
  EXPECT_EQ(byte_stream_read(*reader, buffer, sizeof buffer).value_or(-1), 20);
  EXPECT_EQ(byte_stream_read(*reader, buffer, sizeof buffer).value_or(-1), 0);
  EXPECT_TRUE(byte_stream_close(reader).ok());
  EXPECT_FALSE(reader);

  auto writer = file_stream_open(path.c_str(), FILE_STREAM_WRITE).value();
  ASSERT_TRUE(writer);
  EXPECT_TRUE(byte_stream_read(*writer, buffer, 1).status().is_absent());
  EXPECT_EQ(byte_stream_write(*writer, "abc", 3).value_or(-1), 3);
  EXPECT_EQ(byte_stream_tell(*writer).value_or(-1), 3);
  EXPECT_TRUE(byte_stream_close(writer).ok());

  EXPECT_FALSE(file_stream_open(path.c_str(), 3).ok());
  EXPECT_FALSE(file_stream_open(nullptr, FILE_STREAM_READ).ok());
  EXPECT_FALSE(file_stream_open("/nonexistent/velmarch/x", FILE_STREAM_READ).ok());
}

TEST_F(FileStreamTest, GatheredWritesReachTheFileWholeAndInOrder) {
  auto writer = file_stream_open(path.c_str(), FILE_STREAM_WRITE).value();
  ASSERT_TRUE(writer);
  std::string expected;
  uint32_t state = 1;
  // Short lines, writes that straddle a block, and writes larger than a block.
  for (int i = 0; i < 3000; ++i) {
    state = state * 1103515245 + 12345;
    size_t size = i % 500 == 7 ? FILE_STREAM_WRITE_BLOCK + state % 1000 : state % 90;
    std::string piece(size, static_cast<char>('a' + i % 26));
    ASSERT_EQ(byte_stream_write(*writer, piece.data(), piece.size()).value_or(-1),
              static_cast<int64_t>(piece.size()));
    expected += piece;
    if (i == 1500) {
      ASSERT_EQ(byte_stream_tell(*writer).value_or(-1), static_cast<int64_t>(expected.size()));
    }
  }
  ASSERT_TRUE(byte_stream_close(writer).ok());
  std::FILE* file = std::fopen(path.c_str(), "rb");
  ASSERT_NE(file, nullptr);
  std::string content(expected.size() + 1, '\0');
  content.resize(std::fread(content.data(), 1, content.size(), file));
  std::fclose(file);
  EXPECT_TRUE(content == expected) << content.size() << " bytes of " << expected.size();
}

TEST(FileStream, WriteThatFailsAtTheEndFailsTheClose) {
  // The device is always full: the gathered bytes only fail when they finally leave.
  auto writer = file_stream_open("/dev/full", FILE_STREAM_WRITE).value();
  ASSERT_TRUE(writer);
  EXPECT_EQ(byte_stream_write(*writer, "abc", 3).value_or(-1), 3);
  EXPECT_FALSE(byte_stream_close(writer).ok());
  ASSERT_TRUE(writer);  // kept for the caller, but its handle is gone: closing again is quiet
  EXPECT_TRUE(byte_stream_close(writer).ok());
}

TEST(FileStream, FailuresCarryTheSystemsReason) {
  auto writer = file_stream_open("/dev/full", FILE_STREAM_WRITE).value();
  ASSERT_TRUE(writer);
  EXPECT_TRUE(byte_stream_write(*writer, "abc", 3).ok());
  EXPECT_EQ(byte_stream_close(writer).error(), ENOSPC);
  // A write too large to gather fails at once, with its reason.
  auto big = file_stream_open("/dev/full", FILE_STREAM_WRITE).value();
  ASSERT_TRUE(big);
  std::string block(FILE_STREAM_WRITE_BLOCK + 1, 'x');
  EXPECT_EQ(byte_stream_write(*big, block.data(), block.size()).error(), ENOSPC);
  EXPECT_EQ(file_stream_open("/nonexistent/velmarch/x", FILE_STREAM_READ).error(), ENOENT);
}

TEST_F(FileStreamTest, SizeKeepsThePosition) {
  auto reader = file_stream_open(path.c_str(), FILE_STREAM_READ).value();
  ASSERT_TRUE(reader);
  char buffer[5];
  ASSERT_EQ(byte_stream_read(*reader, buffer, 5).value_or(-1), 5);
  EXPECT_EQ(byte_stream_size(reader.get()).value_or(-1), 20);
  EXPECT_EQ(byte_stream_tell(*reader).value_or(-1), 5);
  ASSERT_EQ(byte_stream_read(*reader, buffer, 1).value_or(-1), 1);
  EXPECT_EQ(buffer[0], '5');
}

TEST(BufferedStream, CapacityIsRoundedUpToEight) {
  MemoryStream inner(twenty);
  EXPECT_EQ(static_cast<BufferedStream&>(*buffered_stream_open(inner, 1001)).capacity(), 1008u);
  EXPECT_EQ(static_cast<BufferedStream&>(*buffered_stream_open(inner, 1000)).capacity(), 1000u);
  EXPECT_FALSE(buffered_stream_open(inner, 0));
}

TEST(BufferedStream, OneByteReadsRefillEightEightFour) {
  MemoryStream inner(twenty);
  auto stream = buffered_stream_open(inner, 8);
  std::string got;
  char c;
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(byte_stream_read(*stream, &c, 1).value_or(-1), 1);
    got += c;
  }
  EXPECT_EQ(got, twenty);
  EXPECT_EQ(inner.reads, 3);
  EXPECT_EQ(byte_stream_read(*stream, &c, 1).value_or(-1), 0);
  EXPECT_EQ(byte_stream_tell(*stream).value_or(-1), 20);
}

TEST(BufferedStream, LongReadAtTheEndReturnsWhatIsLeft) {
  MemoryStream inner(twenty);
  auto stream = buffered_stream_open(inner, 8);
  char buffer[16];
  ASSERT_EQ(byte_stream_read(*stream, buffer, 16).value_or(-1), 16);
  EXPECT_EQ(byte_stream_read(*stream, buffer, 10).value_or(-1), 4);
  EXPECT_EQ(std::string(buffer, 4), "ghij");
}

TEST(BufferedStream, SeekInsideTheBufferDoesNotTouchTheInnerStream) {
  MemoryStream inner(twenty);
  auto stream = buffered_stream_open(inner, 8);
  char buffer[8];
  ASSERT_EQ(byte_stream_read(*stream, buffer, 8).value_or(-1), 8);
  int reads = inner.reads, seeks = inner.seeks;
  EXPECT_EQ(byte_stream_seek(*stream, 3, SEEK_SET).value_or(-1), 3);
  EXPECT_EQ(byte_stream_tell(*stream).value_or(-1), 3);
  // The end of the buffered bytes.
  EXPECT_EQ(byte_stream_seek(*stream, 5, SEEK_CUR).value_or(-1), 8);
  EXPECT_EQ(inner.reads, reads);
  EXPECT_EQ(inner.seeks, seeks);
  ASSERT_EQ(byte_stream_read(*stream, buffer, 1).value_or(-1), 1);
  EXPECT_EQ(buffer[0], '8');
}

TEST(BufferedStream, SeekOutsideRefillsOrStaysPut) {
  MemoryStream inner(twenty);
  auto stream = buffered_stream_open(inner, 8);
  EXPECT_EQ(byte_stream_seek(*stream, 17, SEEK_SET).value_or(-1), 17);
  char c;
  ASSERT_EQ(byte_stream_read(*stream, &c, 1).value_or(-1), 1);
  EXPECT_EQ(c, 'h');
  // Beyond the end: nothing changes.
  EXPECT_EQ(byte_stream_seek(*stream, 50, SEEK_SET).value_or(-1), 18);
  EXPECT_EQ(byte_stream_size(stream.get()).value_or(-1), 20);
  EXPECT_EQ(byte_stream_tell(*stream).value_or(-1), 18);
}

TEST(BufferedStream, ReadErrorIsNotTheEnd) {
  MemoryStream inner(twenty);
  inner.fail_reads_from = 12;
  auto stream = buffered_stream_open(inner, 8);
  char buffer[20];
  EXPECT_EQ(byte_stream_read(*stream, buffer, 20).value_or(-1), 12);
  EXPECT_FALSE(byte_stream_read(*stream, buffer, 1).ok());
}

TEST(BufferedStream, BorrowedInnerStaysOpen) {
  MemoryStream inner(twenty);
  auto stream = buffered_stream_open(inner, 8);
  EXPECT_TRUE(byte_stream_close(stream).ok());
  EXPECT_FALSE(stream);
  EXPECT_EQ(inner.closes, 0);
}

TEST(BufferedStream, OwnedInnerIsClosedAndItsFailureKeepsTheStream) {
  bool closed = false;
  auto memory = std::make_unique<MemoryStream>(twenty);
  memory->closed_flag = &closed;
  MemoryStream* inner = memory.get();
  std::unique_ptr<ByteStream> owned = std::move(memory);
  auto stream = buffered_stream_open(owned, 8);
  ASSERT_TRUE(stream);
  EXPECT_FALSE(owned);  // handed over

  inner->fail_close = true;
  EXPECT_FALSE(byte_stream_close(stream).ok());
  EXPECT_TRUE(stream);
  inner->fail_close = false;
  EXPECT_TRUE(byte_stream_close(stream).ok());
  EXPECT_TRUE(closed);
}

}  // namespace
}  // namespace velmarch
