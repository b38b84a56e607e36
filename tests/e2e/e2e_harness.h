#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace e2e {

/// The status the sanitizer and valgrind runs make a checked process end with when it reports
/// anything; no run of velmarch itself ends with it.
inline constexpr int MEMORY_CHECKER_STATUS = 99;

struct RunResult {
  int status = -1;
  std::string out;
  /// Standard error with every line's time and id prefix reduced to its level letter:
  /// "E Could not open log".
  std::vector<std::string> log;
  std::string raw_err;
};

/// A velmarch process started by Scratch::start, not yet waited for.
struct Started {
  pid_t pid = -1;
  std::string out_file;
  std::string err_file;
};

/// A scratch folder, the current directory of every run; removed afterwards.
class Scratch : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  /// Runs velmarch with the arguments in the scratch folder. A file size limit (bytes, >= 0)
  /// applies to the run with SIGXFSZ ignored, so that a write past it fails with EFBIG.
  RunResult run(const std::vector<std::string>& arguments, long long file_size_limit = -1);
  /// Starts velmarch and returns at once; SIGINT, SIGTERM and SIGHUP start at their defaults
  /// whatever the test runner set, unless ignored_signal names one to start ignored.
  Started start(const std::vector<std::string>& arguments, long long file_size_limit = -1,
                int ignored_signal = 0);
  /// Waits for a started run to end. A run killed by a signal has the status 256 + signal.
  RunResult finish(const Started& started);
  /// Runs velmarch with its standard error on a pseudo-terminal of this width (TERM=xterm, no
  /// output processing): raw_err is what the terminal received, carriage returns and all.
  RunResult run_on_terminal(const std::vector<std::string>& arguments, int columns = 80);

  std::string path(const std::string& relative) const { return dir_ + "/" + relative; }
  void write(const std::string& relative, const std::string& content);
  void mkdir(const std::string& relative);
  bool exists(const std::string& relative) const;
  std::string read(const std::string& relative) const;
  /// Every file and folder below the scratch folder ("a/", "a/b.txt"), sorted.
  std::vector<std::string> tree() const;

  std::string dir_;
  /// Seconds a run may take before SIGALRM ends it: a hang fails the test instead of the suite.
  unsigned time_limit_ = 60;
  /// The folder below the scratch folder that runs start in; the scratch folder itself if empty.
  std::string working_folder_;

 private:
  RunResult collect(const Started& started, int wait_status);
  int terminal_ = -1;  // while run_on_terminal starts a run: the terminal's side for stderr
};

/// Polls until ready answers true; false after a minute.
bool wait_until(const std::function<bool()>& ready);
/// Stops a started run (SIGSTOP) once ready answers true, and answers true with the run standing
/// still in that state; false when the run ended first. SIGCONT lets it go on.
bool stop_when(const Started& started, const std::function<bool()>& ready);

/// Whether the runs go through wine (VELMARCH_E2E_WRAPPER), to a Windows build of velmarch.
bool under_wine();

/// A valid text log: the full header block, separator ";", then the lines given.
std::string text_log(int session, int split, const std::vector<std::string>& lines,
                     const std::string& logger_id = "0000AB12", int time_format = 3);

/// Whether the masked log holds exactly this line.
bool has_line(const std::vector<std::string>& log, const std::string& line);

}  // namespace e2e
