#include "diag/log.h"

#include <cstdio>
#include <cstring>

#include "diag/status_line.h"
#include "platform/platform.h"

namespace velmarch {

int log_output_level = LOG_INFO;
int log_format_level = LOG_INFO;

namespace {

thread_local LogCapture* current_capture = nullptr;
thread_local LogErrorTap* current_tap = nullptr;
bool errors_kept = false;

}  // namespace

LogErrorTap::LogErrorTap() : previous_(current_tap) { current_tap = this; }

LogErrorTap::~LogErrorTap() { current_tap = previous_; }

void LogErrorTap::note(int level, const char* message) {
  if (level < LOG_ERROR || complete_) return;
  static constexpr char REASON[] = "Reason: ";
  if (text_.empty()) {
    text_ = message;
  } else {
    complete_ = true;
    if (std::strncmp(message, REASON, sizeof REASON - 1) == 0) {
      text_ += ": ";
      text_ += message + sizeof REASON - 1;
    }
  }
}

LogCaptureScope::LogCaptureScope(LogCapture* capture) : previous_(current_capture) {
  current_capture = capture;
}

LogCaptureScope::~LogCaptureScope() { current_capture = previous_; }

void LogCapture::replay() {
  LogCaptureScope direct(nullptr);
  for (const Line& line : lines_) log_message(line.level, "%s", line.message.c_str());
  lines_.clear();
}

void log_set_output_level(int level) {
  log_output_level = level;
  log_format_level = errors_kept && level > LOG_ERROR ? LOG_ERROR : level;
}

void log_keep_errors() {
  errors_kept = true;
  log_set_output_level(log_output_level);
}

namespace {

char level_tag(int level) {
  static const char tags[] = "?VDIWEF";
  return level >= 1 && level <= 6 ? tags[level] : '?';
}

char* put_two_digits(char* out, int value) {
  *out++ = static_cast<char>('0' + value / 10 % 10);
  *out++ = static_cast<char>('0' + value % 10);
  return out;
}

// Right-aligned in at least five columns, never cut.
char* put_id(char* out, long value) {
  char digits[24];
  int count = 0;
  bool negative = value < 0;
  unsigned long magnitude = negative ? 0UL - static_cast<unsigned long>(value)
                                     : static_cast<unsigned long>(value);
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (negative) digits[count++] = '-';
  for (int pad = count; pad < 5; ++pad) *out++ = ' ';
  while (count > 0) *out++ = digits[--count];
  return out;
}

}  // namespace

size_t log_compose_line(char* line, int level, int month, int day, int hour, int minute,
                        int second, int millisecond, long process_id, long thread_id,
                        const char* format, va_list args) {
  char prefix[96];
  char* p = put_two_digits(prefix, month);
  *p++ = '-';
  p = put_two_digits(p, day);
  *p++ = ' ';
  p = put_two_digits(p, hour);
  *p++ = ':';
  p = put_two_digits(p, minute);
  *p++ = ':';
  p = put_two_digits(p, second);
  *p++ = '.';
  *p++ = static_cast<char>('0' + millisecond / 100 % 10);
  p = put_two_digits(p, millisecond % 100);
  *p++ = ' ';
  p = put_id(p, process_id);
  *p++ = ' ';
  p = put_id(p, thread_id);
  *p++ = ' ';
  *p++ = level_tag(level);
  *p++ = ' ';

  char* const limit = line + LOG_LINE_MAX;
  char* cursor = line;
  for (const char* from = prefix; from < p && cursor < limit; ++from) *cursor++ = *from;

  size_t room = static_cast<size_t>(limit - cursor) + 1;
  int written = std::vsnprintf(cursor, room, format, args);
  if (written > 0) cursor = static_cast<size_t>(written) < room ? cursor + written : limit;
  *cursor = '\n';
  return static_cast<size_t>(cursor - line) + 1;
}

void log_reason(int level, int error) {
  if (error == 0 || !log_enabled(level)) return;
  log_message(level, "Reason: %s", platform_error_text(error).c_str());
}

void log_message(int level, const char* format, ...) {
  if (current_capture != nullptr) {
    // The whole message is kept; the line is cut when it is finally written, as it would be now.
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string message(static_cast<size_t>(length > 0 ? length : 0), '\0');
    if (length > 0) std::vsnprintf(message.data(), message.size() + 1, format, again);
    va_end(again);
    current_capture->add(level, std::move(message));
    return;
  }
  if (current_tap != nullptr && level >= LOG_ERROR) {
    va_list args;
    va_start(args, format);
    char message[LOG_LINE_MAX + 1];
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    current_tap->note(level, message);
  }
  // Formatted only for a tap's sake.
  if (level < log_output_level) return;
  PlatformLocalTime now = platform_local_time();
  char line[LOG_LINE_MAX + 1];
  va_list args;
  va_start(args, format);
  size_t length = log_compose_line(line, level, now.month, now.day, now.hour, now.minute,
                                   now.second, now.millisecond, platform_process_id(),
                                   platform_thread_id(), format, args);
  va_end(args);
  status_line_write_above(line, length);
}

}  // namespace velmarch
