#include "e2e_harness.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "testing/masked_log.h"

namespace e2e {

namespace fs = std::filesystem;

void Scratch::SetUp() {
  char pattern[] = "/tmp/velmarch-e2e-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  dir_ = pattern;
}

void Scratch::TearDown() {
  std::error_code ignored;
  fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(dir_, ignored);
}

namespace {

std::string slurp(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

// VELMARCH_E2E_WRAPPER, split at blanks, runs in front of the binary: a memory checker, for
// example "valgrind --error-exitcode=99 --leak-check=full".
std::vector<std::string> wrapper_command() {
  std::vector<std::string> words;
  const char* wrapper = std::getenv("VELMARCH_E2E_WRAPPER");
  std::istringstream text(wrapper != nullptr ? wrapper : "");
  for (std::string word; text >> word;) words.push_back(word);
  return words;
}

// VELMARCH_E2E_BINARY names another build of velmarch to run, for example a Windows one with
// VELMARCH_E2E_WRAPPER=wine.
const char* binary() {
  const char* other = std::getenv("VELMARCH_E2E_BINARY");
  return other != nullptr && *other != '\0' ? other : VELMARCH_BINARY;
}

}  // namespace

bool under_wine() {
  const char* wrapper = std::getenv("VELMARCH_E2E_WRAPPER");
  return wrapper != nullptr && std::string(wrapper).find("wine") != std::string::npos;
}

RunResult Scratch::run(const std::vector<std::string>& arguments, long long file_size_limit) {
  return finish(start(arguments, file_size_limit));
}

Started Scratch::start(const std::vector<std::string>& arguments, long long file_size_limit,
                       int ignored_signal) {
  static int runs = 0;
  Started started;
  std::string base =
      dir_ + "/../" + fs::path(dir_).filename().string() + "." + std::to_string(++runs);
  started.out_file = base + ".out";
  started.err_file = base + ".err";
  std::vector<std::string> wrapper = wrapper_command();
  pid_t child = fork();
  if (child == 0) {
    if (chdir(path(working_folder_).c_str()) != 0) _exit(127);
    int out = open(started.out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(started.err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    dup2(terminal_ >= 0 ? terminal_ : err, 2);
    if (terminal_ >= 0) setenv("TERM", "xterm", 1);
    alarm(time_limit_);
    // A test runner started in the background ignores SIGINT; velmarch would inherit that.
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
      signal(signal_number, signal_number == ignored_signal ? SIG_IGN : SIG_DFL);
    }
    if (file_size_limit >= 0) {
      // An ignored signal stays ignored across exec; the limit is inherited.
      signal(SIGXFSZ, SIG_IGN);
      rlimit limit{static_cast<rlim_t>(file_size_limit), static_cast<rlim_t>(file_size_limit)};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(127);
    }
    std::vector<char*> argv;
    argv.reserve(wrapper.size() + arguments.size() + 2);
    for (auto& word : wrapper) argv.push_back(word.data());
    argv.push_back(const_cast<char*>(wrapper.empty() ? "velmarch" : binary()));
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    if (wrapper.empty()) {
      execv(binary(), argv.data());
    } else {
      execvp(argv[0], argv.data());
    }
    _exit(127);
  }
  started.pid = child;
  return started;
}

RunResult Scratch::finish(const Started& started) {
  int status = 0;
  waitpid(started.pid, &status, 0);
  return collect(started, status);
}

RunResult Scratch::collect(const Started& started, int status) {
  RunResult result;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 256 + WTERMSIG(status);
  result.out = slurp(started.out_file);
  // A Windows console program's standard output is text: its lines end in CR LF.
  for (size_t cr; (cr = result.out.find("\r\n")) != std::string::npos;) result.out.erase(cr, 1);
  result.raw_err = slurp(started.err_file);
  EXPECT_NE(result.status, MEMORY_CHECKER_STATUS) << "memory checker report:\n" << result.raw_err;
  std::remove(started.out_file.c_str());
  std::remove(started.err_file.c_str());
  result.log = velmarch::masked_log(result.raw_err);
  return result;
}

RunResult Scratch::run_on_terminal(const std::vector<std::string>& arguments, int columns) {
  int controller = -1;
  winsize size{};
  size.ws_row = 24;
  size.ws_col = static_cast<unsigned short>(columns);
  if (openpty(&controller, &terminal_, nullptr, nullptr, &size) != 0) {
    ADD_FAILURE() << "no pseudo-terminal";
    return {};
  }
  fcntl(controller, F_SETFD, FD_CLOEXEC);
  // Bytes as written: no line feed turned into CR LF on the way.
  termios settings{};
  tcgetattr(terminal_, &settings);
  settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  tcsetattr(terminal_, TCSANOW, &settings);
  Started started = start(arguments);
  // Read while the run goes on, or a full terminal would stall it. The terminal stays open here
  // until the end: once its last user closes it, Linux may drop what was not yet read.
  fcntl(controller, F_SETFL, O_NONBLOCK);
  std::string received;
  auto take = [&] {
    char buffer[4096];
    for (ssize_t got; (got = ::read(controller, buffer, sizeof buffer)) > 0;) {
      received.append(buffer, static_cast<size_t>(got));
    }
  };
  int status = 0;
  while (waitpid(started.pid, &status, WNOHANG) == 0) {
    pollfd ready{controller, POLLIN, 0};
    poll(&ready, 1, 50);
    take();
  }
  take();
  close(controller);
  close(terminal_);
  terminal_ = -1;
  RunResult result = collect(started, status);
  result.raw_err = received;
  return result;
}

void Scratch::write(const std::string& relative, const std::string& content) {
  fs::create_directories(fs::path(path(relative)).parent_path());
  std::ofstream(path(relative), std::ios::binary) << content;
}

void Scratch::mkdir(const std::string& relative) { fs::create_directories(path(relative)); }

bool Scratch::exists(const std::string& relative) const {
  std::error_code ignored;
  return fs::exists(fs::symlink_status(path(relative), ignored));
}

std::string Scratch::read(const std::string& relative) const { return slurp(path(relative)); }

std::vector<std::string> Scratch::tree() const {
  // A run may still be making and removing files: whatever vanishes meanwhile is passed over.
  std::vector<std::string> entries;
  std::error_code error;
  for (fs::recursive_directory_iterator it(dir_, error), end; !error && it != end;
       it.increment(error)) {
    std::string name = it->path().string().substr(dir_.size() + 1);
    std::error_code ignored;
    if (it->is_directory(ignored) && !it->is_symlink(ignored)) name += "/";
    entries.push_back(name);
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

bool wait_until(const std::function<bool()>& ready) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!ready()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

bool stop_when(const Started& started, const std::function<bool()>& ready) {
  for (;;) {
    if (!wait_until(ready)) return false;
    kill(started.pid, SIGSTOP);
    // The stop takes effect a moment later: look again once it stands still.
    siginfo_t info{};
    if (waitid(P_PID, static_cast<id_t>(started.pid), &info, WSTOPPED | WEXITED | WNOWAIT) != 0 ||
        info.si_code != CLD_STOPPED) {
      return false;
    }
    if (ready()) return true;
    kill(started.pid, SIGCONT);
  }
}

std::string text_log(int session, int split, const std::vector<std::string>& lines,
                     const std::string& logger_id, int time_format) {
  std::ostringstream log;
  log << "# Logger type: TarvikB\n"
      << "# HW rev: 3.2\n"
      << "# FW rev: 5.10\n"
      << "# Logger ID: " << logger_id << "\n"
      << "# Session No.: " << session << "\n"
      << "# Split No.: " << split << "\n"
      << "# Time: 20241017T110553\n"
      << "# Value separator: \";\"\n"
      << "# Time format: " << time_format << "\n"
      << "# Time separator: \":\"\n"
      << "# Time separator ms: \".\"\n"
      << "# Date separator: \"/\"\n"
      << "# Time and date separator: \"T\"\n"
      << "# Bit-rate: 500000\n"
      << "# Silent mode: false\n"
      << "# Cyclic mode: false\n"
      << "Timestamp;Type;ID;Length;Data\n";
  for (const auto& line : lines) log << line << "\n";
  return log.str();
}

bool has_line(const std::vector<std::string>& log, const std::string& line) {
  return std::find(log.begin(), log.end(), line) != log.end();
}

}  // namespace e2e
