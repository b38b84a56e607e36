#pragma once

#include <cstddef>
#include <string_view>

namespace velmarch {

/// One line at the foot of a terminal that the log lines pass above: log_message takes it away
/// before it writes a line and draws it again after, so that the two never share a line. Any
/// thread may show it; nothing appears until the first show.
///
/// Shows text in place of the line shown, cut to the terminal's width.
void status_line_show(std::string_view text);
/// Ends the status line: text (a summary) stays in its place, whole and ended by a line feed;
/// empty text clears it. Log lines are written plainly again afterwards.
void status_line_end(std::string_view text);

/// For log_message: writes a log line to standard error, above the status line when one is
/// shown, taking it away and drawing it again around it.
void status_line_write_above(const char* line, size_t length);

}  // namespace velmarch
