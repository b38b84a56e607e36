#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include "platform/platform.h"

namespace velmarch {

const char* platform_name() { return "windows"; }

PlatformLocalTime platform_local_time() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return {now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

long platform_process_id() { return static_cast<long>(GetCurrentProcessId()); }

long platform_thread_id() { return static_cast<long>(GetCurrentThreadId()); }

void platform_write_stderr(const char* bytes, size_t count) {
  // Straight to the handle: the C runtime's text mode would turn each LF into CR LF.
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), bytes, static_cast<DWORD>(count), &written, nullptr);
}

FILE* platform_standard_input() {
  _setmode(_fileno(stdin), _O_BINARY);
  return stdin;
}

FILE* platform_standard_output() {
  _setmode(_fileno(stdout), _O_BINARY);
  return stdout;
}

Result<FILE*> platform_file_open(const char* name, const char* mode) {
  FILE* file = _fsopen(name, mode, _SH_DENYNO);
  if (file == nullptr) return Status::failure(errno);
  return file;
}

Status platform_file_seek(FILE* file, int64_t offset, int origin) {
  if (_fseeki64(file, offset, origin) != 0) return Status::failure(errno);
  return Status();
}

Result<int64_t> platform_file_tell(FILE* file) {
  int64_t position = _ftelli64(file);
  if (position < 0) return Status::failure(errno);
  return position;
}

Result<PathStatus> platform_stat(const char* path) {
  // _stat64 refuses a folder written with a trailing "/", except a drive's root ("C:/").
  std::string name(path);
  // Without the long-path opt-in, Windows names at most MAX_PATH - 1 characters.
  if (name.size() >= MAX_PATH) return Status::failure(ENAMETOOLONG);
  size_t n = name.size();
  bool folder_only = false;
  if (n > 1 && (name[n - 1] == '/' || name[n - 1] == '\\') && !(n == 3 && name[1] == ':')) {
    name.pop_back();
    folder_only = true;
  }
  struct _stat64 info{};
  if (_stat64(name.c_str(), &info) != 0) return Status::failure(errno);
  PathStatus status;
  DWORD attributes = GetFileAttributesA(name.c_str());
  status.is_link =
      attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  // A trailing "/" names a folder: "file.txt/" does not exist, as on other systems.
  if (folder_only && (info.st_mode & _S_IFMT) != _S_IFDIR) return Status::failure(ENOENT);
  if ((info.st_mode & _S_IFMT) == _S_IFREG) {
    status.kind = PATH_FILE;
    status.size = static_cast<int64_t>(info.st_size);
  } else if ((info.st_mode & _S_IFMT) == _S_IFDIR) {
    status.kind = PATH_DIRECTORY;
  } else {
    status.kind = PATH_OTHER;
  }
  status.modified_ns = static_cast<int64_t>(info.st_mtime) * 1000000000;
  // The C runtime gives no file identity (st_ino is always 0): the walk's link-loop guard
  // treats zeros as unknown.
  return status;
}

namespace {

// FILETIME counts 100 ns steps from 1601.
int64_t nanoseconds_since_1970(FILETIME time) {
  int64_t ticks = (static_cast<int64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  return (ticks - 116444736000000000LL) * 100;
}

// The entry the handle was opened on: a reparse point opened as such is a link.
bool identity_of_handle(HANDLE handle, PathStatus* identity) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) return false;
  *identity = PathStatus{};
  identity->device = info.dwVolumeSerialNumber;
  identity->inode = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  identity->size =
      static_cast<int64_t>((static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
  identity->modified_ns = nanoseconds_since_1970(info.ftLastWriteTime);
  identity->is_link = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if (identity->is_link) {
    identity->kind = PATH_OTHER;
  } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    identity->kind = PATH_DIRECTORY;
  } else {
    identity->kind = PATH_FILE;
  }
  return true;
}

int errno_of_error(DWORD system_error) {
  int error;
  switch (system_error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      error = ENOENT;
      break;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
      error = EEXIST;
      break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      error = EACCES;
      break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      error = ENOSPC;
      break;
    default:
      error = EIO;
  }
  return error;
}

Status last_error() { return Status::failure(errno_of_error(GetLastError())); }

}  // namespace

Result<PathStatus> platform_file_identity(FILE* file) {
  auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  if (handle == INVALID_HANDLE_VALUE) return Status::failure(EBADF);
  PathStatus identity;
  if (!identity_of_handle(handle, &identity)) return last_error();
  return identity;
}

Result<PathStatus> platform_path_identity(const char* path) {
  // No access asked: only the entry's information, of the link itself where there is one.
  HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return last_error();
  PathStatus identity;
  Status status = identity_of_handle(handle, &identity) ? Status() : last_error();
  CloseHandle(handle);
  if (!status.ok()) return status;
  return identity;
}

Status platform_list_directory(const char* path, void (*on_name)(void* context, const char* name),
                               void* context) {
  std::string pattern(path);
  if (!pattern.empty() && pattern.back() != '/' && pattern.back() != '\\') pattern += '/';
  pattern += '*';
  struct __finddata64_t entry{};
  intptr_t handle = _findfirst64(pattern.c_str(), &entry);
  if (handle == -1) return Status::failure(errno);
  do {
    on_name(context, entry.name);
  } while (_findnext64(handle, &entry) == 0);
  _findclose(handle);
  return Status();
}

Status platform_make_directory(const char* path) {
  return _mkdir(path) == 0 ? Status() : Status::failure(errno);
}

Status platform_remove(const char* path) {
  return std::remove(path) == 0 ? Status() : Status::failure(errno);
}

Result<FILE*> platform_file_create_new(const char* name, uint32_t /*permissions*/) {
  int fd = -1;
  int error = _sopen_s(&fd, name, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _SH_DENYNO,
                       _S_IREAD | _S_IWRITE);
  if (error != 0) return Status::failure(error);
  FILE* file = _fdopen(fd, "wb");
  if (file == nullptr) {
    error = errno;
    _close(fd);
    return Status::failure(error);
  }
  return file;
}

namespace {

// While another process replaces or removes the same name, Windows refuses a rename rather than
// wait, and the name can even look missing for that moment. Go's cmd/go robustio retries these.
bool rename_may_pass_later(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
         error == ERROR_FILE_NOT_FOUND;
}

}  // namespace

Status platform_rename(const char* from, const char* to, bool replace) {
  DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
  // A refusal that lasts about 2 s is taken as real. The pauses grow by a random part so that
  // two processes that collided once do not keep retrying in step.
  constexpr ULONGLONG GIVE_UP_MS = 2000;
  ULONGLONG start = GetTickCount64();
  DWORD pause_ms = 1;
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  uint64_t random = static_cast<uint64_t>(counter.QuadPart) ^
                    (static_cast<uint64_t>(GetCurrentProcessId()) << 32) ^ GetCurrentThreadId();
  for (;;) {
    if (MoveFileExA(from, to, flags)) return Status();
    DWORD error = GetLastError();
    if (!rename_may_pass_later(error) || GetTickCount64() - start + pause_ms >= GIVE_UP_MS) {
      return Status::failure(errno_of_error(error));
    }
    Sleep(pause_ms);
    random ^= random << 13;  // xorshift64
    random ^= random >> 7;
    random ^= random << 17;
    pause_ms += 1 + static_cast<DWORD>(random % pause_ms);
  }
}

Status platform_sync(const char* const* paths, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    HANDLE handle =
        CreateFileA(paths[i], GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return last_error();
    Status flushed = FlushFileBuffers(handle) != 0 ? Status() : last_error();
    CloseHandle(handle);
    if (!flushed.ok()) return flushed;
  }
  return Status();
}

bool platform_current_directory(char* buffer, size_t size) {
  return _getcwd(buffer, static_cast<int>(size)) != nullptr;
}

bool platform_change_directory(const char* path) { return _chdir(path) == 0; }

bool platform_make_temp_directory(char* name_template) {
  size_t n = std::strlen(name_template);
  if (n < 6) return false;
  std::string base(name_template, n - 6);
  // _mktemp_s picks names that exist nowhere yet; a race with another process is retried.
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = base + "XXXXXX";
    if (_mktemp_s(candidate.data(), candidate.size() + 1) != 0) return false;
    if (_mkdir(candidate.c_str()) == 0) {
      std::memcpy(name_template, candidate.data(), n);
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

time_t platform_utc_to_time(struct tm* fields) { return _mkgmtime(fields); }

bool platform_time_to_utc(time_t value, struct tm* fields) {
  return gmtime_s(fields, &value) == 0;
}

time_t platform_local_to_time(struct tm* fields) {
  // The time zone is read and kept by the runtime; headers read on several threads take turns.
  static std::mutex zone;
  std::lock_guard<std::mutex> lock(zone);
  return mktime(fields);
}

void platform_set_time_zone(const char* zone) {
  _putenv_s("TZ", zone != nullptr ? zone : "");  // an empty value removes the variable
  _tzset();
}

int platform_processor_count() {
  DWORD count = GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
  return count > 0 ? static_cast<int>(count) : 1;
}

namespace {

std::atomic<int> caught_interruption{0};

BOOL WINAPI on_console_event(DWORD event) {
  int code;
  switch (event) {
    case CTRL_C_EVENT:
      code = SIGINT;
      break;
    case CTRL_BREAK_EVENT:
      code = SIGBREAK;
      break;
    case CTRL_CLOSE_EVENT:
      code = SIGTERM;
      break;
    default:
      return FALSE;
  }
  int expected = 0;
  if (!caught_interruption.compare_exchange_strong(expected, code)) ExitProcess(STATUS_CONTROL_C_EXIT);
  // This runs on a thread of its own. The main thread cleans up and ends the process; returning
  // would let Windows end it first when the console is closed.
  Sleep(INFINITE);
  return TRUE;
}

}  // namespace

void platform_catch_interrupts() { SetConsoleCtrlHandler(on_console_event, TRUE); }

// Windows has no SIGPIPE: such a write fails already.
void platform_ignore_broken_pipe() {}

int platform_interruption() { return caught_interruption.load(std::memory_order_relaxed); }

void platform_die_of_interruption(int /*interruption*/) { ExitProcess(STATUS_CONTROL_C_EXIT); }

bool platform_stderr_is_terminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

int platform_terminal_columns() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

std::string platform_error_text(int error) { return std::strerror(error); }

int platform_compare_ignoring_case(const char* a, const char* b) { return _stricmp(a, b); }

}  // namespace velmarch
