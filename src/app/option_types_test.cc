// Our own argtable option types, driven through argtable itself: what they scan, when their
// check runs, and the error lines they print.

#include "app/option_types.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "testing/temp_dir.h"

namespace velmarch {
namespace {

struct Calls {
  int checks = 0;
  int check_answer = 0;
  std::vector<int> reported;  // codes the error callback got
};

int check(void* /*option*/, void* user) {
  auto* calls = static_cast<Calls*>(user);
  ++calls->checks;
  return calls->check_answer;
}

void report(void* /*option*/, void* user, FILE* out, int code, const char* value,
            const char* /*program*/) {
  static_cast<Calls*>(user)->reported.push_back(code);
  std::fprintf(out, "bad %s\n", value != nullptr ? value : "");
}

// A table of one ValidatedStringArg and one positional PathListArg, parsed from arguments.
class OptionTypes : public ::testing::Test {
 protected:
  void SetUp() override {
    format = validated_string_arg("f", "format", nullptr, 0, 1, "the format", check, report,
                                  &format_calls);
    paths = path_list_arg(nullptr, nullptr, nullptr, 1, 3, nullptr, check, report, &path_calls);
    end = arg_end(20);
    ASSERT_TRUE(format && paths && end);
    table = {format, paths, end};
  }
  void TearDown() override { arg_freetable(table.data(), table.size()); }

  // Parses the arguments; answers the error count, and the printed errors in errors.
  int parse(std::vector<const char*> arguments) {
    arguments.insert(arguments.begin(), "prog");
    std::vector<char*> argv(arguments.size());
    for (size_t i = 0; i < arguments.size(); ++i) argv[i] = const_cast<char*>(arguments[i]);
    int count = arg_parse(static_cast<int>(argv.size()), argv.data(), table.data());
    std::string file = temp.at("errors.txt");
    FILE* out = std::fopen(file.c_str(), "w+b");
    arg_print_errors(out, end, "prog");
    std::rewind(out);
    errors.clear();
    for (int c; (c = std::fgetc(out)) != EOF;) errors += static_cast<char>(c);
    std::fclose(out);
    return count;
  }

  TempDir temp;
  Calls format_calls, path_calls;
  ValidatedStringArg* format = nullptr;
  PathListArg* paths = nullptr;
  struct arg_end* end = nullptr;
  std::vector<void*> table;
  std::string errors;
};

TEST_F(OptionTypes, ScanValuesAsArgtablesOwnTypesDo) {
  EXPECT_EQ(parse({"--format=x", "/d/a.txt", "/d/", "b.tar.gz"}), 0);
  ASSERT_EQ(format->count, 1);
  EXPECT_STREQ(format->sval[0], "x");
  ASSERT_EQ(paths->count, 3);
  EXPECT_STREQ(paths->basename[0], "a.txt");
  EXPECT_STREQ(paths->extension[0], ".txt");
  EXPECT_STREQ(paths->basename[1], "");
  EXPECT_STREQ(paths->extension[2], ".gz");
  // Both checks ran, once each, after the scan.
  EXPECT_EQ(format_calls.checks, 1);
  EXPECT_EQ(path_calls.checks, 1);
}

TEST_F(OptionTypes, MissingAndExcessOptionsNameTheOption) {
  EXPECT_EQ(parse({}), 1);
  EXPECT_EQ(errors, "prog: missing option <file>\n");
  format_calls.checks = 0;
  EXPECT_EQ(parse({"-f", "x", "-f", "y", "a"}), 1);
  EXPECT_EQ(errors, "prog: excess option -f|--format=y\n");
  // argtable runs no check after a scan error.
  EXPECT_EQ(format_calls.checks, 0);
}

TEST_F(OptionTypes, CheckCodesReachTheErrorCallbackUnshifted) {
  format_calls.check_answer = 3;
  EXPECT_EQ(parse({"-f", "x", "a"}), 1);
  EXPECT_EQ(format_calls.reported, std::vector<int>{3});
  EXPECT_EQ(errors, "prog: bad \n");  // argtable hands a check's error no value
  EXPECT_TRUE(path_calls.reported.empty());
}

TEST(OptionTypesDefaults, DataTypesShowWhenNoneIsGiven) {
  ValidatedStringArg* text = validated_string_arg(nullptr, "t", nullptr, 0, 1, nullptr, nullptr,
                                                  nullptr, nullptr);
  PathListArg* file = path_list_arg(nullptr, "p", nullptr, 0, 0, nullptr, nullptr, nullptr,
                                    nullptr);
  ASSERT_TRUE(text && file);
  EXPECT_STREQ(text->hdr.datatype, "<string>");
  EXPECT_STREQ(file->hdr.datatype, "<file>");
  EXPECT_EQ(file->hdr.maxcount, 0);  // the maximum never falls below the minimum
  void* entries[] = {text, file};
  arg_freetable(entries, 2);
}

}  // namespace
}  // namespace velmarch
