#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "platform/platform.h"

namespace velmarch {

const char* platform_name() { return "posix"; }

PlatformLocalTime platform_local_time() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  return {local.tm_mon + 1, local.tm_mday,   local.tm_hour,
          local.tm_min,     local.tm_sec,    static_cast<int>(now.tv_nsec / 1000000)};
}

long platform_process_id() { return static_cast<long>(getpid()); }

long platform_thread_id() { return static_cast<long>(syscall(SYS_gettid)); }

void platform_write_stderr(const char* bytes, size_t count) {
  ssize_t written = write(STDERR_FILENO, bytes, count);
  (void)written;
}

FILE* platform_file_open(const char* name, const char* mode) { return std::fopen(name, mode); }

int platform_file_seek(FILE* file, int64_t offset, int origin) {
  return fseeko(file, static_cast<off_t>(offset), origin);
}

int64_t platform_file_tell(FILE* file) { return static_cast<int64_t>(ftello(file)); }

int platform_stat(const char* path, PlatformFileStatus* status) {
  struct stat info{};
  if (stat(path, &info) != 0) {
    // "file.txt/x" does not exist either; other systems say ENOENT for it.
    return errno == ENOTDIR ? ENOENT : errno;
  }
  if (S_ISREG(info.st_mode)) {
    status->kind = PlatformFileKind::regular;
  } else if (S_ISDIR(info.st_mode)) {
    status->kind = PlatformFileKind::directory;
  } else {
    status->kind = PlatformFileKind::other;
  }
  status->size = static_cast<int64_t>(info.st_size);
  status->device = static_cast<uint64_t>(info.st_dev);
  status->inode = static_cast<uint64_t>(info.st_ino);
  return 0;
}

bool platform_list_directory(const char* path, void (*on_name)(void* context, const char* name),
                             void* context) {
  DIR* dir = opendir(path);
  if (dir == nullptr) return false;
  while (dirent* entry = readdir(dir)) on_name(context, entry->d_name);
  closedir(dir);
  return true;
}

bool platform_make_directory(const char* path) { return mkdir(path, 0777) == 0; }

bool platform_remove(const char* path) { return std::remove(path) == 0; }

bool platform_current_directory(char* buffer, size_t size) {
  return getcwd(buffer, size) != nullptr;
}

bool platform_change_directory(const char* path) { return chdir(path) == 0; }

bool platform_make_temp_directory(char* name_template) { return mkdtemp(name_template) != nullptr; }

time_t platform_utc_to_time(struct tm* fields) { return timegm(fields); }

bool platform_time_to_utc(time_t value, struct tm* fields) {
  return gmtime_r(&value, fields) != nullptr;
}

time_t platform_local_to_time(struct tm* fields) { return mktime(fields); }

void platform_set_time_zone(const char* zone) {
  if (zone != nullptr) {
    setenv("TZ", zone, 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

int platform_compare_ignoring_case(const char* a, const char* b) { return strcasecmp(a, b); }

}  // namespace velmarch
