#include "textlog/text_lines.h"

#include <cstring>

namespace velmarch {

namespace {

// The line is the text up to its first zero byte (text), which the file itself may hold.
size_t line_length(char* line, size_t stored, size_t text) {
  line[stored] = '\0';
  if (text == 0 && stored > 0) {
    // Only a read that stores nothing ends the file. A line that starts with a zero byte
    // reads as a line without text, as a bare line feed does; the lines after it still count.
    line[0] = '\n';
    line[1] = '\0';
    return 1;
  }
  return text;
}

// Sixteen bytes compared at once; GCC and Clang map this onto the machine's vector compares.
// Reading the halves back as integers puts the first byte lowest: little-endian machines.
using Bytes16 = unsigned char __attribute__((vector_size(16)));
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "copy_to_line_break finds the first match by counting trailing zero bits");

// Copies bytes to out up to the first line feed, carriage return or zero byte among n bytes
// and answers its index, or n when there is none. Copying whole blocks as they are scanned
// beats a separate copy of a few dozen bytes; out has room for n bytes.
size_t copy_to_line_break(const unsigned char* bytes, size_t n, char* out) {
  size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    Bytes16 v;
    std::memcpy(&v, bytes + i, sizeof v);
    std::memcpy(out + i, &v, sizeof v);
    Bytes16 found = (v == 0) | (v == '\n') | (v == '\r');
    uint64_t half[2];
    std::memcpy(half, &found, sizeof half);
    if (half[0] != 0) return i + static_cast<size_t>(__builtin_ctzll(half[0]) >> 3);
    if (half[1] != 0) return i + 8 + static_cast<size_t>(__builtin_ctzll(half[1]) >> 3);
  }
  for (; i < n; ++i) {
    unsigned char c = bytes[i];
    if (c == '\n' || c == '\r' || c == '\0') return i;
    out[i] = static_cast<char>(c);
  }
  return n;
}

// The scan needs no reason: a failed read is a count of -1.
int64_t peek_count(ByteStream& s, const unsigned char** data) {
  return s.peek_buffered(data).value_or(-1);
}

}  // namespace

size_t read_text_line_bytewise(ByteStream& stream, char* line, bool& failed, bool* fed) {
  size_t stored = 0;
  bool ended = false;
  while (stored < static_cast<size_t>(TEXT_LINE_MAX)) {
    char c;
    int64_t got = byte_stream_read(stream, &c, 1).value_or(-1);
    if (got != 1) {
      if (got < 0) failed = true;
      ended = true;
      break;
    }
    if (c == '\n') {
      line[stored++] = c;
      ended = true;
      break;
    }
    if (c != '\r') line[stored++] = c;
  }
  // A line of exactly TEXT_LINE_MAX characters still owns its line feed: read as a line of its
  // own, it would be an empty record. Anything else is left for the next line.
  while (!ended) {
    char c;
    int64_t got = byte_stream_read(stream, &c, 1).value_or(-1);
    if (got != 1) {
      if (got < 0) failed = true;
      break;
    }
    if (c == '\r') continue;  // dropped wherever it stands
    if (c == '\n') {
      line[stored++] = c;
    } else {
      (void)byte_stream_seek(stream, -1, SEEK_CUR);
    }
    break;
  }
  if (fed != nullptr) *fed = stored > 0 && line[stored - 1] == '\n';
  const void* zero = std::memchr(line, '\0', stored);
  return line_length(line, stored,
                     zero != nullptr ? static_cast<size_t>(static_cast<const char*>(zero) - line)
                                     : stored);
}

size_t read_text_line(ByteStream& stream, char* line, bool& failed, bool* fed) {
  // A buffered stream is scanned in place, a run of plain bytes at a time; the bytes taken and
  // the line made are the same as one read per byte would give.
  const unsigned char* window;
  IoResult peeked = stream.peek_buffered(&window);
  if (peeked.status().is_absent()) return read_text_line_bytewise(stream, line, failed, fed);
  int64_t available = peeked.value_or(-1);
  size_t stored = 0;
  size_t first_zero = SIZE_MAX;
  while (stored < static_cast<size_t>(TEXT_LINE_MAX)) {
    if (available <= 0) {
      if (available < 0) failed = true;
      break;
    }
    size_t span = static_cast<size_t>(TEXT_LINE_MAX) - stored;
    if (static_cast<uint64_t>(available) < span) span = static_cast<size_t>(available);
    size_t plain = copy_to_line_break(window, span, line + stored);
    stored += plain;
    if (plain == span) {
      stream.consume_buffered(plain);
      if (stored < static_cast<size_t>(TEXT_LINE_MAX)) available = peek_count(stream, &window);
      continue;
    }
    unsigned char c = window[plain];
    stream.consume_buffered(plain + 1);
    if (c == '\n') {
      line[stored++] = '\n';
      break;
    }
    if (c == '\0') {
      if (first_zero == SIZE_MAX) first_zero = stored;
      line[stored++] = '\0';
    }
    window += plain + 1;
    available -= static_cast<int64_t>(plain + 1);
    if (available == 0) available = peek_count(stream, &window);
  }
  // As read_text_line_bytewise: the line feed right after a full line belongs to it.
  if (stored == static_cast<size_t>(TEXT_LINE_MAX) && line[stored - 1] != '\n') {
    for (;;) {
      available = peek_count(stream, &window);
      if (available <= 0) {
        if (available < 0) failed = true;
        break;
      }
      if (window[0] == '\r') {
        stream.consume_buffered(1);
        continue;
      }
      if (window[0] == '\n') {
        stream.consume_buffered(1);
        line[stored++] = '\n';
      }
      break;
    }
  }
  if (fed != nullptr) *fed = stored > 0 && line[stored - 1] == '\n';
  return line_length(line, stored, first_zero < stored ? first_zero : stored);
}

}  // namespace velmarch
