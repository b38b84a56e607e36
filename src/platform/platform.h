#pragma once

// Plain functions over the operating system. Nothing here knows the rest of the system; every
// other folder reaches the machine only through these.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#include "platform/path_status.h"
#include "platform/result.h"

namespace velmarch {

/// "posix" or "windows": for the few tests whose machine behaves differently.
const char* platform_name();

struct PlatformLocalTime {
  int month;  // 1..12
  int day;
  int hour;
  int minute;
  int second;
  int millisecond;
};

PlatformLocalTime platform_local_time();
long platform_process_id();
long platform_thread_id();
/// One write of the whole line to standard error; the result is ignored on purpose.
void platform_write_stderr(const char* bytes, size_t count);

/// Standard input and output as binary streams: no line ending is changed on either.
FILE* platform_standard_input();
FILE* platform_standard_output();

/// Opens a file with a C runtime mode ("rb", "wb", "r+b"), without any sharing restriction.
Result<FILE*> platform_file_open(const char* name, const char* mode);
/// 64-bit positions, so inputs of 2 GiB and more work.
Status platform_file_seek(FILE* file, int64_t offset, int origin);
Result<int64_t> platform_file_tell(FILE* file);

/// Follows links, but is_link says whether the path itself is one. ENOENT for a missing path,
/// also when a component before the last one is a file.
Result<PathStatus> platform_stat(const char* path);
/// The status of an open file.
Result<PathStatus> platform_file_identity(FILE* file);
/// The status of the entry at path itself: a link is not followed (is_link, kind PATH_OTHER).
/// ENOENT for a missing path.
Result<PathStatus> platform_path_identity(const char* path);

/// Calls on_name for every name in the folder, "." and ".." included, in the platform's order.
/// Fails when the folder cannot be enumerated.
Status platform_list_directory(const char* path, void (*on_name)(void* context, const char* name),
                               void* context);
Status platform_make_directory(const char* path);
Status platform_remove(const char* path);

/// Creates a new file for writing in binary mode with the given permission bits (the platform's
/// default where it has none). Fails, with EEXIST, when anything is at the path, a link
/// included, which is never followed.
Result<FILE*> platform_file_create_new(const char* name, uint32_t permissions);
/// Renames a file in one step, within one folder. With replace, whatever is at `to` (a link
/// included, never followed) is replaced; without, the rename fails with EEXIST when anything
/// is there.
Status platform_rename(const char* from, const char* to, bool replace);
/// Makes the data of the files named, and their folder entries, durable: once it succeeds
/// they survive a power cut.
Status platform_sync(const char* const* paths, size_t count);
/// Fills buffer with the current directory; false when it does not fit or cannot be read.
bool platform_current_directory(char* buffer, size_t size);
bool platform_change_directory(const char* path);
/// Makes a new folder named by name_template, whose last six characters "XXXXXX" are replaced
/// in place by a unique suffix; false when no folder was made.
bool platform_make_temp_directory(char* name_template);

/// Inverse of gmtime: normalises out-of-range fields; -1 when the time cannot be represented.
time_t platform_utc_to_time(struct tm* fields);
/// The calendar time as UTC, false when it cannot be broken down.
bool platform_time_to_utc(time_t value, struct tm* fields);
/// Local time of the machine's zone, as mktime.
time_t platform_local_to_time(struct tm* fields);

/// Sets the TZ variable (unsets it for null) and makes the time functions read it again.
void platform_set_time_zone(const char* zone);

/// The number of processors this process may run on; at least 1.
int platform_processor_count();

/// From now on SIGINT, SIGTERM and SIGHUP (Ctrl-C, Ctrl-Break and closing the console on Windows)
/// only note that the run is to stop; one ignored at start stays ignored. A second one ends the
/// process at once.
void platform_catch_interrupts();
/// A write to a pipe whose reader went away fails with EPIPE instead of ending the process.
void platform_ignore_broken_pipe();
/// The first interruption caught (the signal's number), or 0. Cheap enough for every frame.
int platform_interruption();
/// Ends the process as the interruption would have ended it uncaught.
[[noreturn]] void platform_die_of_interruption(int interruption);

/// True when standard error is a terminal (or the Windows console) that can redraw a line.
bool platform_stderr_is_terminal();
/// The width of the terminal on standard error in columns; 0 when it cannot be told.
int platform_terminal_columns();
/// The operating system's words for an errno value.
std::string platform_error_text(int error);

/// Compares ASCII letters without regard to case.
int platform_compare_ignoring_case(const char* a, const char* b);

}  // namespace velmarch
