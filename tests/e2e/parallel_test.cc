// With any number of jobs a run gives what a run of one job gives: the same tree byte for byte,
// the same status and the same log lines in the same order. Generated trees hold what makes
// the order matter: repeats and continuations, traces sharing a name, failures, missing
// inputs, traces already there, inputs given twice; with and without -d and -m.

#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "e2e_harness.h"

namespace e2e {
namespace {

// The whole scratch tree: every path with the bytes of each file.
using Snapshot = std::map<std::string, std::string>;

std::string frames(std::mt19937& rng, int count, bool backwards) {
  std::ostringstream lines;
  int ms = static_cast<int>(rng() % 1000);
  for (int i = 0; i < count; ++i) {
    ms += backwards && i == count / 2 ? -500 : static_cast<int>(rng() % 40);
    if (ms < 0) ms = 0;
    char line[80];
    std::snprintf(line, sizeof line, "11:%02d:%02d.%03d;%d;%X;%d;%s\n", ms / 60000 % 60,
                  ms / 1000 % 60, ms % 1000, rng() % 2 == 0 ? 0 : 9,
                  static_cast<unsigned>(rng() % 0x800), 2, "A1B2");
    lines << line;
  }
  return lines.str();
}

class Parallel : public Scratch {
 protected:
  // One card folder and a second folder, with files of every kind the order matters for.
  void generate(unsigned seed) {
    std::mt19937 rng(seed);
    int session = 1;
    for (int folder = 0; folder < 3; ++folder) {
      std::string dir = folder == 2 ? "more/" : "card/d" + std::to_string(folder) + "/";
      int split = 1;
      for (int i = 0; i < 14; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "%08d", i);
        std::string path = dir + name + (i % 5 == 0 ? ".TXT" : ".txt");
        int kind = static_cast<int>(rng() % 10);
        if (kind == 0) {
          write(path, "no header at all\n");  // fails
        } else if (kind == 1) {
          write(path, text_log(session, split, {}));  // no frames
        } else if (kind == 2) {
          write(path, text_log(session, split, {}) + frames(rng, 50, false));  // a repeat
        } else if (kind == 3) {
          write(path, text_log(0, 1, {}) + frames(rng, 10, false));  // session 0
        } else {
          if (rng() % 3 == 0) ++session, split = 1;  // else a continuation
          write(path, text_log(session, ++split, {}) +
                          frames(rng, 200 + static_cast<int>(rng() % 3000), kind == 4));
        }
        // Two names, one trace.
        if (i == 7) write(dir + name + ".TXT", text_log(++session, 1, {}) + frames(rng, 40, false));
      }
    }
    write("single.txt", text_log(++session, 1, {}) + frames(rng, 500, false));
    write("more_out/00000003.trc", "a trace already there\n");
  }

  Snapshot snapshot() const {
    Snapshot files;
    for (const auto& entry : tree()) files[entry] = entry.back() == '/' ? "" : read(entry);
    return files;
  }

  void restore(const Snapshot& files) {
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    for (const auto& [path, content] : files) {
      if (path.back() == '/') {
        mkdir(path);
      } else {
        write(path, content);
      }
    }
  }
};

TEST_F(Parallel, AnyNumberOfJobsGivesWhatOneJobGives) {
  std::set<std::string> said;  // the start of every kind of line the runs wrote
  for (unsigned seed : {1u, 2u, 3u}) {
    size_t files = 0, merged_files = 0;
    generate(seed);
    const Snapshot inputs = snapshot();
    for (int variant = 0; variant < 6; ++variant) {
      bool delete_converted = variant % 2 == 1, merge = variant >= 4;
      const char* format = variant / 2 == 1 ? "version1" : "version2";
      std::vector<std::string> arguments = {"-f", format, "card", "missing", "more",
                                            "single.txt", "single.txt"};
      if (delete_converted) arguments.insert(arguments.begin(), "-d");
      if (merge) arguments.insert(arguments.begin(), "-m");
      SCOPED_TRACE(std::string("seed ") + std::to_string(seed) + ", " + format +
                   (delete_converted ? ", -d" : "") + (merge ? ", -m" : ""));
      std::vector<std::string> one = {"--jobs", "1"};
      one.insert(one.end(), arguments.begin(), arguments.end());
      RunResult sequential = run(one);
      Snapshot expected = snapshot();
      // Merged splits make fewer traces.
      if (!delete_converted) (merge ? merged_files : files) = expected.size();
      if (merge && !delete_converted) {
        EXPECT_LT(merged_files, files);
      }
      for (const auto& line : sequential.log) said.insert(line.substr(0, line.find(' ', 9)));
      for (const char* jobs : {"2", "5"}) {
        restore(inputs);
        std::vector<std::string> many = {"--jobs", jobs};
        many.insert(many.end(), arguments.begin(), arguments.end());
        RunResult parallel = run(many);
        EXPECT_EQ(parallel.status, sequential.status) << jobs << " jobs";
        EXPECT_EQ(parallel.log, sequential.log) << jobs << " jobs";
        Snapshot got = snapshot();
        EXPECT_EQ(got.size(), expected.size()) << jobs << " jobs";
        for (const auto& [path, content] : expected) {
          EXPECT_TRUE(got.count(path) != 0 && got[path] == content)
              << path << " differs with " << jobs << " jobs";
        }
      }
      restore(inputs);
    }
  }
  // The trees did hold what makes the order matter.
  for (const char* kind : {"W Repeated", "W No frames", "W Skipping", "W Could not", "E Could not",
                           "E Error during", "E Trace more_out/00000003.trc"}) {
    EXPECT_TRUE(said.count(kind) != 0) << kind;
  }
}

}  // namespace
}  // namespace e2e
