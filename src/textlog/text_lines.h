#pragma once

#include <cstddef>

#include "stream/byte_stream.h"

namespace velmarch {

inline constexpr int TEXT_LINE_MAX = 199;     // characters taken per line
// The line buffer of read_text_line: the characters, the line feed and a terminator.
inline constexpr int TEXT_LINE_BUFFER = TEXT_LINE_MAX + 2;

/// Reads the next line into a buffer of TEXT_LINE_BUFFER bytes: at most TEXT_LINE_MAX
/// characters, carriage returns dropped, the line feed kept (also right after TEXT_LINE_MAX
/// characters); the rest of a longer line is the next line. Answers the length of the text up to
/// the first zero byte; 0 means no more lines. A line that starts with a zero byte comes back as a
/// bare line feed. A read that answers an error ends the line and sets failed. fed, when given,
/// tells whether the line took its line feed: a cut line goes on in the next one.
size_t read_text_line(ByteStream& stream, char* line, bool& failed, bool* fed = nullptr);
/// The same, one read call per byte: what read_text_line does for an unbuffered stream.
size_t read_text_line_bytewise(ByteStream& stream, char* line, bool& failed,
                               bool* fed = nullptr);

}  // namespace velmarch
