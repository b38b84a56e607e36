#include "diag/status_line.h"

#include <mutex>
#include <string>

#include "platform/platform.h"

namespace velmarch {

namespace {

std::mutex lock;
std::string shown;  // what the terminal shows now on the status line
bool active = false;

// Back to the start of the line and blank over what was shown: a carriage return and spaces
// work on every terminal and in the Windows console, escape sequences not everywhere.
void append_clearing(std::string& out) {
  if (shown.empty()) return;
  out += '\r';
  out.append(shown.size(), ' ');
  out += '\r';
}

// Cut to one column less than the terminal has: a line that fills the last column wraps on
// some terminals, and a carriage return would then return to the wrong line.
std::string_view fitted(std::string_view text) {
  int columns = platform_terminal_columns();
  if (columns <= 1) columns = 80;
  size_t room = static_cast<size_t>(columns - 1);
  return text.size() <= room ? text : text.substr(0, room);
}

}  // namespace

void status_line_show(std::string_view text) {
  std::lock_guard<std::mutex> guard(lock);
  std::string_view line = fitted(text);
  if (active && line == shown) return;
  std::string out;
  append_clearing(out);
  out.append(line);
  platform_write_stderr(out.data(), out.size());
  shown.assign(line);
  active = true;
}

void status_line_end(std::string_view text) {
  std::lock_guard<std::mutex> guard(lock);
  std::string out;
  append_clearing(out);
  // Whole: a line that stays may wrap.
  if (!text.empty()) {
    out.append(text);
    out += '\n';
  }
  if (!out.empty()) platform_write_stderr(out.data(), out.size());
  shown.clear();
  active = false;
}

void status_line_write_above(const char* line, size_t length) {
  // Under the lock also when no status line is shown: one may be drawn at any moment, and the
  // log line must not land after it, on the same line.
  std::lock_guard<std::mutex> guard(lock);
  if (!active) {
    platform_write_stderr(line, length);
    return;
  }
  // One write, so that the terminal never shows the line half cleared.
  std::string out;
  append_clearing(out);
  out.append(line, length);
  out.append(shown);
  platform_write_stderr(out.data(), out.size());
}

}  // namespace velmarch
