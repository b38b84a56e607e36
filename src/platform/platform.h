#pragma once

// Plain functions over the operating system. Nothing here knows the rest of the system; every
// other folder reaches the machine only through these.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>

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

/// Opens a file with a C runtime mode ("rb", "wb", "r+b"), without any sharing restriction.
FILE* platform_file_open(const char* name, const char* mode);
/// 64-bit positions, so inputs of 2 GiB and more work.
int platform_file_seek(FILE* file, int64_t offset, int origin);
int64_t platform_file_tell(FILE* file);

enum class PlatformFileKind { regular, directory, other };
struct PlatformFileStatus {
  PlatformFileKind kind;
  int64_t size;
  uint64_t device;
  uint64_t inode;
};
/// Follows links. Answers 0 on success, otherwise the error number: ENOENT for a missing path,
/// also when a component before the last one is a file.
int platform_stat(const char* path, PlatformFileStatus* status);

/// Calls on_name for every name in the folder, "." and ".." included, in the platform's order.
/// Answers false when the folder cannot be enumerated.
bool platform_list_directory(const char* path, void (*on_name)(void* context, const char* name),
                             void* context);
bool platform_make_directory(const char* path);
bool platform_remove(const char* path);
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

/// Compares ASCII letters without regard to case.
int platform_compare_ignoring_case(const char* a, const char* b);

}  // namespace velmarch
