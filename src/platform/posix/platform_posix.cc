#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace velmarch {

const char* platform_name() { return "posix"; }

namespace {

// The time zone is read, and may be loaded and freed again, by every local-time conversion;
// threads take turns.
std::mutex time_zone_lock;

}  // namespace

PlatformLocalTime platform_local_time() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  {
    std::lock_guard<std::mutex> lock(time_zone_lock);
    localtime_r(&now.tv_sec, &local);
  }
  return {local.tm_mon + 1, local.tm_mday,   local.tm_hour,
          local.tm_min,     local.tm_sec,    static_cast<int>(now.tv_nsec / 1000000)};
}

long platform_process_id() { return static_cast<long>(getpid()); }

long platform_thread_id() { return static_cast<long>(syscall(SYS_gettid)); }

void platform_write_stderr(const char* bytes, size_t count) {
  ssize_t written = write(STDERR_FILENO, bytes, count);
  (void)written;
}

FILE* platform_standard_input() { return stdin; }

FILE* platform_standard_output() { return stdout; }

Result<FILE*> platform_file_open(const char* name, const char* mode) {
  FILE* file = std::fopen(name, mode);
  if (file == nullptr) return Status::failure(errno);
  return file;
}

Status platform_file_seek(FILE* file, int64_t offset, int origin) {
  if (fseeko(file, static_cast<off_t>(offset), origin) != 0) return Status::failure(errno);
  return Status();
}

Result<int64_t> platform_file_tell(FILE* file) {
  off_t position = ftello(file);
  if (position < 0) return Status::failure(errno);
  return static_cast<int64_t>(position);
}

namespace {

int64_t modified_ns_of(const struct stat& info) {
  return static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}

PathKind kind_of(mode_t mode) {
  if (S_ISREG(mode)) return PATH_FILE;
  if (S_ISDIR(mode)) return PATH_DIRECTORY;
  return PATH_OTHER;
}

// The entry as lstat or fstat saw it: a link is a link, never the file it leads to.
PathStatus identity_of(const struct stat& info) {
  PathStatus identity;
  identity.kind = kind_of(info.st_mode);
  identity.is_link = S_ISLNK(info.st_mode);
  identity.device = static_cast<uint64_t>(info.st_dev);
  identity.inode = static_cast<uint64_t>(info.st_ino);
  identity.size = static_cast<int64_t>(info.st_size);
  identity.modified_ns = modified_ns_of(info);
  identity.permissions = static_cast<uint32_t>(info.st_mode & 0777);
  return identity;
}

}  // namespace

namespace {

// A missing component on the way is a missing path, as other systems say.
Status missing_or(int error) { return Status::failure(error == ENOTDIR ? ENOENT : error); }

}  // namespace

Result<PathStatus> platform_stat(const char* path) {
  // The entry itself first: most are no link, and one query then answers all. A trailing "/"
  // would make the kernel follow a link, so the name is looked at without it.
  std::string entry(path);
  while (entry.size() > 1 && entry.back() == '/') entry.pop_back();
  struct stat info {};
  if (lstat(entry.c_str(), &info) != 0) return missing_or(errno);
  PathStatus status;
  status.is_link = S_ISLNK(info.st_mode);
  // What a link leads to, and what a name with a trailing "/" names, come from the full query;
  // "file.txt/x" does not exist either, as other systems say.
  if (status.is_link || entry.size() != std::strlen(path)) {
    if (stat(path, &info) != 0) return missing_or(errno);
  }
  status.kind = kind_of(info.st_mode);
  if (status.kind == PATH_FILE) status.size = static_cast<int64_t>(info.st_size);
  status.device = static_cast<uint64_t>(info.st_dev);
  status.inode = static_cast<uint64_t>(info.st_ino);
  status.modified_ns = modified_ns_of(info);
  status.permissions = static_cast<uint32_t>(info.st_mode & 0777);
  return status;
}

Result<PathStatus> platform_file_identity(FILE* file) {
  struct stat info {};
  if (fstat(fileno(file), &info) != 0) return Status::failure(errno);
  return identity_of(info);
}

Result<PathStatus> platform_path_identity(const char* path) {
  struct stat info {};
  if (lstat(path, &info) != 0) return missing_or(errno);
  return identity_of(info);
}

Status platform_list_directory(const char* path, void (*on_name)(void* context, const char* name),
                               void* context) {
  DIR* dir = opendir(path);
  if (dir == nullptr) return Status::failure(errno);
  while (dirent* entry = readdir(dir)) on_name(context, entry->d_name);
  closedir(dir);
  return Status();
}

Status platform_make_directory(const char* path) {
  return mkdir(path, 0777) == 0 ? Status() : Status::failure(errno);
}

Status platform_remove(const char* path) {
  return std::remove(path) == 0 ? Status() : Status::failure(errno);
}

namespace {

// The process's umask, read without changing it (setting and restoring it would race with other
// threads creating files); -1 when it cannot be read.
int process_umask() {
  static const int mask = [] {
    FILE* status = std::fopen("/proc/self/status", "re");
    if (status == nullptr) return -1;
    int value = -1;
    char line[256];
    while (std::fgets(line, sizeof line, status) != nullptr) {
      if (std::sscanf(line, "Umask: %o", reinterpret_cast<unsigned*>(&value)) == 1) break;
    }
    std::fclose(status);
    return value;
  }();
  return mask;
}

}  // namespace

Result<FILE*> platform_file_create_new(const char* name, uint32_t permissions) {
  // Most inputs have the bits a new file gets anyway: one call makes the file. "x" fails on
  // anything at the name, a link included, which it never follows.
  int mask = process_umask();
  if (permissions == 0 || (mask >= 0 && (permissions & 0777) == (0666 & ~static_cast<unsigned>(mask)))) {
    FILE* file = std::fopen(name, "wbxe");
    if (file == nullptr) return Status::failure(errno);
    return file;
  }
  int fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return Status::failure(errno);
  // The exact bits, whatever the umask, as gzip gives its output; a file system without
  // permissions (FAT) refuses, and its files are as readable as the input anyway.
  if (permissions != 0) (void)fchmod(fd, static_cast<mode_t>(permissions & 0777));
  FILE* file = fdopen(fd, "wb");
  if (file == nullptr) {
    int error = errno;
    close(fd);
    return Status::failure(error);
  }
  return file;
}

Status platform_rename(const char* from, const char* to, bool replace) {
  if (replace) return rename(from, to) == 0 ? Status() : Status::failure(errno);
  if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return Status();
  if (errno != EINVAL && errno != ENOSYS) return Status::failure(errno);
  // A file system without the flag: a hard link cannot replace anything either.
  if (link(from, to) == 0) {
    unlink(from);
    return Status();
  }
  if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS) return Status::failure(errno);
  // Neither (FAT): look, then rename. Another process could slip in between.
  struct stat info {};
  if (lstat(to, &info) == 0) return Status::failure(EEXIST);
  return rename(from, to) == 0 ? Status() : Status::failure(errno);
}

Status platform_sync(const char* const* paths, size_t count) {
  // One syncfs per file system flushes every file on it and its folder entries, which is far
  // cheaper than a flush per file for many small traces. Files come folder by folder, and a
  // folder's file system is asked for once.
  std::vector<dev_t> synced;
  std::string last_folder;
  for (size_t i = 0; i < count; ++i) {
    std::string folder(paths[i]);
    size_t slash = folder.rfind('/');
    folder = slash == std::string::npos ? "." : folder.substr(0, slash + 1);
    if (i > 0 && folder == last_folder) continue;
    last_folder = folder;
    struct stat info{};
    if (stat(folder.c_str(), &info) != 0) return Status::failure(errno);
    bool seen = false;
    for (dev_t device : synced) seen = seen || device == info.st_dev;
    if (seen) continue;
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return Status::failure(errno);
    int error = syncfs(fd) == 0 ? 0 : errno;
    close(fd);
    if (error != 0) return Status::failure(error);
    synced.push_back(info.st_dev);
  }
  return Status();
}

bool platform_current_directory(char* buffer, size_t size) {
  return getcwd(buffer, size) != nullptr;
}

bool platform_change_directory(const char* path) { return chdir(path) == 0; }

bool platform_make_temp_directory(char* name_template) { return mkdtemp(name_template) != nullptr; }

time_t platform_utc_to_time(struct tm* fields) { return timegm(fields); }

bool platform_time_to_utc(time_t value, struct tm* fields) {
  return gmtime_r(&value, fields) != nullptr;
}

time_t platform_local_to_time(struct tm* fields) {
  std::lock_guard<std::mutex> lock(time_zone_lock);
  return mktime(fields);
}

void platform_set_time_zone(const char* zone) {
  std::lock_guard<std::mutex> lock(time_zone_lock);
  if (zone != nullptr) {
    setenv("TZ", zone, 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

int platform_processor_count() {
  // The affinity mask, not the machine: taskset, cgroups and containers narrow it.
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
  long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<int>(online) : 1;
}

namespace {

std::atomic<int> caught_interruption{0};
static_assert(std::atomic<int>::is_always_lock_free, "read and written in a signal handler");

void on_interruption(int signal_number) {
  int expected = 0;
  if (!caught_interruption.compare_exchange_strong(expected, signal_number)) {
    // The second one: whoever presses Ctrl-C twice wants out now. The signal is blocked while
    // its handler runs, so the raise takes effect on return.
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
  }
}

}  // namespace

void platform_catch_interrupts() {
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction old {};
    // nohup and background jobs start with some ignored; they stay so.
    if (sigaction(signal_number, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = on_interruption;
    sigemptyset(&action.sa_mask);
    // Reads and writes carry on; the conversion looks at the flag between frames.
    action.sa_flags = SA_RESTART;
    sigaction(signal_number, &action, nullptr);
  }
}

void platform_ignore_broken_pipe() { std::signal(SIGPIPE, SIG_IGN); }

int platform_interruption() { return caught_interruption.load(std::memory_order_relaxed); }

void platform_die_of_interruption(int interruption) {
  std::signal(interruption, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, interruption);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  std::raise(interruption);
  _exit(128 + interruption);
}

bool platform_stderr_is_terminal() {
  // A terminal that says it cannot move the cursor (Emacs' shell, some CI logs) gets plain
  // lines, and so does a job in the background, whose line would be drawn over the shell's.
  const char* term = std::getenv("TERM");
  if (isatty(STDERR_FILENO) != 1 || (term != nullptr && std::strcmp(term, "dumb") == 0)) {
    return false;
  }
  pid_t foreground = tcgetpgrp(STDERR_FILENO);  // -1 when it is no one's controlling terminal
  return foreground < 0 || foreground == getpgrp();
}

int platform_terminal_columns() {
  struct winsize size {};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

namespace {

// strerror_r comes in two kinds: GNU's answers the text, which may be a static one instead of
// the buffer; POSIX's fills the buffer and answers 0. Only one of the two is ever called.
[[maybe_unused]] std::string error_text_of(const char* answer, const char* /*buffer*/, int /*error*/) {
  return answer;
}
[[maybe_unused]] std::string error_text_of(int answer, const char* buffer, int error) {
  return answer == 0 ? std::string(buffer) : "error " + std::to_string(error);
}

}  // namespace

std::string platform_error_text(int error) {
  char text[256] = {};
  return error_text_of(strerror_r(error, text, sizeof text), text, error);
}

int platform_compare_ignoring_case(const char* a, const char* b) { return strcasecmp(a, b); }

}  // namespace velmarch
