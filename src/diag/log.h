#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>
#include <vector>

#include "platform/printf_format.h"

namespace velmarch {

enum LogLevel : int {
  LOG_VERBOSE = 1,
  LOG_DEBUG = 2,
  LOG_INFO = 3,
  LOG_WARN = 4,
  LOG_ERROR = 5,
  LOG_FATAL = 6,
};

/// Process-wide; what the default verbosity shows until the command line sets it.
extern int log_output_level;
/// The lowest level formatted: the output level, or errors too when their words are kept.
extern int log_format_level;

void log_set_output_level(int level);
/// Errors are formatted whatever the output level, for a LogErrorTap to keep their words.
void log_keep_errors();

inline bool log_enabled(int level) { return log_format_level <= level; }

/// Writes one line to standard error: local time, process and thread ids, level tag, message.
/// It writes whatever it is given: callers filter with DIAG so that nothing is formatted for a
/// message that would not be written.
void log_message(int level, const char* format, ...) VELMARCH_PRINTF_FORMAT(2, 3);

/// The operating system's reason for the failure just told, at that failure's level: the words
/// for its error number. Nothing for 0.
void log_reason(int level, int error);

/// Log lines that a thread keeps instead of writing them, so that another thread writes them
/// later, in the order the run needs, under its own thread id.
class LogCapture {
 public:
  void add(int level, std::string message) { lines_.push_back({level, std::move(message)}); }
  /// Writes the kept lines through log_message, as if they were issued now, and forgets them.
  void replay();
  void clear() { lines_.clear(); }
  bool empty() const { return lines_.empty(); }
  size_t size() const { return lines_.size(); }
  /// Moves the kept lines from index `from` up to `to` to the end of another capture.
  void move_lines(size_t from, size_t to, LogCapture& into) {
    for (size_t i = from; i < to; ++i) into.lines_.push_back(std::move(lines_[i]));
  }

 private:
  struct Line {
    int level;
    std::string message;
  };
  std::vector<Line> lines_;
};

/// While it lives, log_message on this thread adds to the capture (or, for null, writes to
/// standard error); the thread's earlier choice comes back when it ends.
class LogCaptureScope {
 public:
  explicit LogCaptureScope(LogCapture* capture);
  ~LogCaptureScope();
  LogCaptureScope(const LogCaptureScope&) = delete;
  LogCaptureScope& operator=(const LogCaptureScope&) = delete;

 private:
  LogCapture* previous_;
};

/// While it lives, the first error (LOG_ERROR or worse) written on this thread is kept, with
/// the reason that follows it: why a file failed, in the words its lines used. Captured lines
/// count when they are replayed.
class LogErrorTap {
 public:
  LogErrorTap();
  ~LogErrorTap();
  LogErrorTap(const LogErrorTap&) = delete;
  LogErrorTap& operator=(const LogErrorTap&) = delete;

  /// "What failed: the system's words", or empty when no error was written.
  const std::string& first_error() const { return text_; }
  void note(int level, const char* message);

 private:
  LogErrorTap* previous_;
  std::string text_;
  bool complete_ = false;  // a line after the first error came: nothing more is added
};

/// The line log_message would write, composed into line (at least LOG_LINE_MAX + 1 bytes) with
/// the given prefix fields; answers its length, line feed included.
inline constexpr size_t LOG_LINE_MAX = 510;
size_t log_compose_line(char* line, int level, int month, int day, int hour, int minute,
                        int second, int millisecond, long process_id, long thread_id,
                        const char* format, va_list args);

}  // namespace velmarch

#define DIAG(level, ...)                                                    \
  do {                                                                      \
    if (::velmarch::log_enabled(level)) ::velmarch::log_message(level, __VA_ARGS__); \
  } while (0)

/// DIAG for a failure whose reason is the error number given (0: none to tell); the reason
/// follows at the same level.
#define DIAG_FAILURE(level, error, ...)                  \
  do {                                                   \
    int failure_error_ = (error);                        \
    DIAG(level, __VA_ARGS__);                            \
    ::velmarch::log_reason(level, failure_error_);       \
  } while (0)
