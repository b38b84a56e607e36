// Runs that are interrupted for real, by each signal, early and late, with and without -d, and
// runs that meet each other in one tree: afterwards every trace under its final name is whole,
// every input is intact unless its whole trace is, and nothing else is left behind.

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <sstream>

#include "e2e_harness.h"
#include "every_format.h"

namespace e2e {
namespace {

// A log of many frames, 1 ms apart.
std::string long_log(int session, int frames) {
  std::ostringstream lines;
  for (int i = 0; i < frames; ++i) {
    int ms = i % 1000, s = (i / 1000) % 60, m = (i / 60000) % 60, h = 11 + i / 3600000;
    char line[64];
    std::snprintf(line, sizeof line, "%02d:%02d:%02d.%03d;%d;%X;8;1122334455667788\n", h, m, s, ms,
                  i % 2 == 0 ? 0 : 9, 0x100 + i % 0x600);
    lines << line;
  }
  std::string log = text_log(session, 1, {});
  return log + lines.str();
}

bool is_temporary(const std::string& entry) {
  return entry.find("/.") != std::string::npos || entry.rfind('.', 0) == 0;
}

// Stops the run in the state given, delivers the signal and lets it go on.
void interrupt_when(const Started& started, int signal_number, const std::function<bool()>& ready) {
  ASSERT_TRUE(stop_when(started, ready)) << "the run ended before it could be interrupted";
  kill(started.pid, signal_number);
  kill(started.pid, SIGCONT);
}

class Runs : public Scratch {
 protected:
  // The traces an uninterrupted run makes of the same inputs, by path; removed again.
  std::map<std::string, std::string> reference_traces(const std::vector<std::string>& arguments,
                                                      const std::string& extension = ".trc") {
    std::map<std::string, std::string> traces;
    RunResult result = run(arguments);
    EXPECT_EQ(result.status, 0) << result.raw_err;
    for (const auto& entry : tree()) {
      if (entry.size() > extension.size() &&
          entry.substr(entry.size() - extension.size()) == extension) {
        traces[entry] = read(entry);
        std::remove(path(entry).c_str());
      }
    }
    return traces;
  }
};

class Interruption : public Runs {
 protected:
  void SetUp() override {
    Runs::SetUp();
    if (under_wine()) GTEST_SKIP() << "POSIX signals";
  }

  // Temporary files of traces in flight below folder.
  std::vector<std::string> temporaries() const {
    std::vector<std::string> found;
    for (const auto& entry : tree()) {
      if (is_temporary(entry)) found.push_back(entry);
    }
    return found;
  }

  off_t largest_temporary_size() const {
    off_t largest = -1;
    for (const auto& entry : temporaries()) {
      struct stat info {};
      if (::stat(path(entry).c_str(), &info) == 0 && info.st_size > largest) largest = info.st_size;
    }
    return largest;
  }

};

TEST_F(Interruption, SignalIgnoredAtStartStaysIgnored) {
  write("big.txt", long_log(1, 100000));
  std::map<std::string, std::string> reference = reference_traces({"big.txt"});
  Started started = start({"big.txt"}, -1, SIGHUP);
  interrupt_when(started, SIGHUP, [&] { return !temporaries().empty(); });
  RunResult result = finish(started);
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(read("big.trc") == reference["big.trc"]);
}

class InterruptedRun : public Interruption,
                                public ::testing::WithParamInterface<TraceFormatCase> {};

TEST_P(InterruptedRun, EachSignalEarlyAndLateLeavesNoPartOfTheTrace) {
  const std::string format = GetParam().name, big = std::string("big") + GetParam().extension;
  const std::string log = long_log(1, 200000);
  write("big.txt", log);
  std::map<std::string, std::string> reference = reference_traces({"-f", format, "big.txt"}, GetParam().extension);
  ASSERT_EQ(reference.size(), 1u);
  const off_t whole = static_cast<off_t>(reference[big].size());

  for (bool delete_converted : {false, true}) {
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
      for (bool late : {false, true}) {
        SCOPED_TRACE(std::string(strsignal(signal_number)) + (late ? ", late" : ", early") +
                     (delete_converted ? ", -d" : ""));
        std::vector<std::string> arguments = {"-f", format, "--buffer", "65536", "big.txt"};
        if (delete_converted) arguments.insert(arguments.begin(), "-d");
        Started started = start(arguments);
        interrupt_when(started, signal_number, [&] {
          return late ? largest_temporary_size() > whole / 3 : !temporaries().empty();
        });
        RunResult result = finish(started);
        EXPECT_EQ(result.status, 256 + signal_number);
        EXPECT_EQ(result.log, std::vector<std::string>{"F Interrupted: big.txt not converted"});
        EXPECT_EQ(tree(), std::vector<std::string>{"big.txt"});
        EXPECT_TRUE(read("big.txt") == log) << "the input changed";
      }
    }
  }
}

// Many files: those finished before the signal are whole, the one in flight and the rest are
// absent, and with -d only inputs whose traces are whole and durable are gone.
TEST_P(InterruptedRun, TreeKeepsEveryInputOrItsWholeTrace) {
  const std::string format = GetParam().name, extension = GetParam().extension;
  std::map<std::string, std::string> inputs;
  for (int i = 0; i < 40; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "logs/f%02d.txt", i);
    inputs[name] = long_log(i + 1, 6000);
    write(name, inputs[name]);
  }
  std::map<std::string, std::string> reference = reference_traces({"-f", format, "logs"}, extension);
  ASSERT_EQ(reference.size(), inputs.size());
  for (bool delete_converted : {false, true}) {
    for (bool late : {false, true}) {
      SCOPED_TRACE(std::string(delete_converted ? "-d" : "no -d") + (late ? ", late" : ", early"));
      std::vector<std::string> arguments = {"-f", format, "logs"};
      if (delete_converted) arguments.insert(arguments.begin(), "-d");
      Started started = start(arguments);
      // Without -d each trace is published as it ends; with -d they wait, hidden, for the
      // commit that comes before any input goes, and are published when the run stops.
      size_t wanted = late ? 20 : 2;
      interrupt_when(started, SIGINT, [&] {
        size_t done = 0;
        for (const auto& entry : tree()) {
          if (delete_converted ? is_temporary(entry) : reference.count(entry) != 0) ++done;
        }
        return done >= wanted;
      });
      RunResult result = finish(started);
      EXPECT_EQ(result.status, 256 + SIGINT);
      ASSERT_EQ(result.log.size(), 1u);
      EXPECT_EQ(result.log[0].rfind("F Interrupted", 0), 0u) << result.log[0];
      // Every file before the one the run stopped in is whole at its name, also the traces
      // that -d still held back for its flush; no input was due for deletion yet.
      const std::string stopped_in = "F Interrupted: ";
      if (result.log[0].rfind(stopped_in, 0) == 0) {
        std::string input = result.log[0].substr(stopped_in.size(), 12);  // "logs/fNN.txt"
        ASSERT_EQ(inputs.count(input), 1u) << result.log[0];
        for (const auto& [name, content] : inputs) {
          if (name >= input) break;
          std::string trace = "logs_out/" + name.substr(5, 3) + extension;
          EXPECT_TRUE(exists(trace)) << trace << " finished before " << input << " but is gone";
          if (delete_converted) {
            EXPECT_TRUE(exists(name)) << name << " was deleted";
          }
        }
      }
      for (const auto& entry : tree()) {
        EXPECT_TRUE(entry == "logs/" || entry == "logs_out/" || inputs.count(entry) != 0 ||
                    reference.count(entry) != 0)
            << "left behind: " << entry;
        if (reference.count(entry) != 0) {
          EXPECT_TRUE(read(entry) == reference[entry]) << entry << " is not whole";
        }
      }
      for (const auto& [name, content] : inputs) {
        std::string trace = "logs_out/" + name.substr(5, 3) + extension;
        if (exists(name)) {
          EXPECT_TRUE(read(name) == content) << name << " changed";
        } else {
          EXPECT_TRUE(exists(trace)) << name << " went without its trace";
        }
        std::remove(path(trace).c_str());
      }
      for (const auto& [name, content] : inputs) write(name, content);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Format, InterruptedRun, ::testing::ValuesIn(EVERY_FORMAT),
                         format_case_name);

TEST_F(Interruption, AfterKillOnlyTemporaryFilesRemain) {
  const std::string log = long_log(1, 200000);
  write("big.txt", log);
  Started started = start({"-d", "--buffer", "65536", "big.txt"});
  interrupt_when(started, SIGKILL, [&] { return largest_temporary_size() > 1000000; });
  finish(started);
  for (const auto& entry : tree()) {
    EXPECT_TRUE(entry == "big.txt" || is_temporary(entry)) << entry;
  }
  EXPECT_TRUE(read("big.txt") == log) << "the input changed";
}

// Two runs at once, one writing 1.1 and one 2.1 over the same tree: each trace is one run's
// whole output, and with -d no input is lost.
TEST_F(Runs, TwoAtOnceLeaveWholeTraces) {
  std::map<std::string, std::string> inputs;
  for (int i = 0; i < 20; ++i) {
    std::string name = "logs/f" + std::to_string(10 + i) + ".txt";
    inputs[name] = long_log(i + 1, 2000);
    write(name, inputs[name]);
  }
  std::map<std::string, std::string> v1 = reference_traces({"-f", "version1", "logs"});
  std::map<std::string, std::string> v2 = reference_traces({"logs"});
  for (bool delete_converted : {false, true}) {
    SCOPED_TRACE(delete_converted ? "-d" : "no -d");
    for (int round = 0; round < 3; ++round) {
      std::vector<std::string> first = {"-f", "version1", "logs"};
      std::vector<std::string> second = {"logs"};
      if (delete_converted) {
        first.insert(first.begin(), "-d");
        second.insert(second.begin(), "-d");
      }
      Started a = start(first);
      Started b = start(second);
      RunResult ra = finish(a);
      RunResult rb = finish(b);
      // With -d one run may meet the other's trace, or find the input gone: it says so.
      if (!delete_converted) {
        EXPECT_EQ(ra.status, 0) << ra.raw_err;
        EXPECT_EQ(rb.status, 0) << rb.raw_err;
      }
      for (const auto& entry : tree()) {
        if (v1.count(entry) != 0) {
          std::string trace = read(entry);
          EXPECT_TRUE(trace == v1[entry] || trace == v2[entry]) << entry << " is not whole";
        } else {
          EXPECT_TRUE(entry == "logs/" || entry == "logs_out/" || inputs.count(entry) != 0)
              << "left behind: " << entry;
        }
      }
      for (const auto& [name, content] : inputs) {
        std::string trace = "logs_out/" + name.substr(5, 3) + ".trc";
        EXPECT_TRUE(exists(name) || exists(trace)) << name << " lost";
        if (exists(name)) {
          EXPECT_TRUE(read(name) == content) << name << " changed";
        }
        std::remove(path(trace).c_str());
        write(name, content);
      }
    }
  }
}

}  // namespace
}  // namespace e2e
