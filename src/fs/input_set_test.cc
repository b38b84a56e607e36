#include "fs/input_set.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velmarch {
namespace {

struct Outcome {
  bool found;
  ExitStatus status;
  std::string root;
  std::vector<std::string> inputs;
  std::string log;
};

Outcome common_root(const std::vector<std::string>& inputs) {
  InputSet set;
  for (const auto& input : inputs) set.inputs.emplace_back(StrView(input));
  Outcome outcome{};
  outcome.status = EXIT_FILE_FAILED;  // left alone on success
  testing::internal::CaptureStderr();
  outcome.found = find_common_root(set, &outcome.status);
  outcome.log = testing::internal::GetCapturedStderr();
  outcome.root = std::string(set.common_root.view());
  for (const auto& input : set.inputs) outcome.inputs.emplace_back(input.view());
  return outcome;
}

using Inputs = std::vector<std::string>;

TEST(FindCommonRoot, OneParentBecomesTheRootOfRelativeInputs) {
  Outcome o = common_root({"D:/data/a.txt", "D:/data/logs/", "D:/data/a.txt"});
  EXPECT_TRUE(o.found);
  EXPECT_EQ(o.status.value(), 8);
  EXPECT_EQ(o.root, "D:/data/");
  EXPECT_EQ(o.inputs, (Inputs{"a.txt", "logs/", "a.txt"}));
  EXPECT_EQ(o.log, "");

  o = common_root({"D:/data/logs/"});
  EXPECT_EQ(o.root, "D:/data/");
  EXPECT_EQ(o.inputs, (Inputs{"logs/"}));

  o = common_root({"D:/a.txt"});
  EXPECT_EQ(o.root, "D:/");
  EXPECT_EQ(o.inputs, (Inputs{"a.txt"}));
}

TEST(FindCommonRoot, TopOfTheFileSystemActsAsADrive) {
  Outcome o = common_root({"/a.txt", "/logs/"});
  EXPECT_TRUE(o.found);
  EXPECT_EQ(o.root, "/");
  EXPECT_EQ(o.inputs, (Inputs{"a.txt", "logs/"}));

  for (const char* top : {"/", "D:/"}) {
    o = common_root({top, "D:/x/a.txt"});
    EXPECT_FALSE(o.found);
    EXPECT_EQ(o.status.value(), 132);
    EXPECT_NE(o.log.find(std::string(" F Could not find root for ") + top + "\n"),
              std::string::npos)
        << o.log;
    EXPECT_EQ(o.inputs, (Inputs{top, "D:/x/a.txt"}));
    EXPECT_EQ(o.root, "");
  }
}

TEST(FindCommonRoot, DistinctParentsFail) {
  for (const Inputs& inputs :
       {Inputs{"D:/x/a.txt", "D:/y/b.txt"}, Inputs{"D:/x/", "D:/x/a.txt"},
        Inputs{"D:/Data/a.txt", "D:/data/b.txt"}, Inputs{"/x/", "/x/a.txt"}}) {
    Outcome o = common_root(inputs);
    EXPECT_FALSE(o.found);
    EXPECT_EQ(o.status.value(), 132);
    EXPECT_NE(o.log.find(" F No common root detected for all inputs\n"), std::string::npos);
    EXPECT_EQ(o.inputs, inputs);
  }
}

TEST(FindCommonRoot, RootlessInputIsReportedBeforeDistinctParentsAndNoInputsFailQuietly) {
  Outcome o = common_root({"D:/x/a.txt", "D:/y/b.txt", "c.txt", "d"});
  EXPECT_EQ(o.status.value(), 132);
  EXPECT_NE(o.log.find("Could not find root for c.txt\n"), std::string::npos) << o.log;
  EXPECT_EQ(o.log.find("No common root"), std::string::npos);
  EXPECT_EQ(o.log.find("for d"), std::string::npos);

  o = common_root({});
  EXPECT_FALSE(o.found);
  EXPECT_EQ(o.status.value(), 132);
  EXPECT_EQ(o.log, "");
}

TEST(NormalizePathOption, NormalisesAndAppendsInOrder) {
  StringList list;
  list.emplace_back(StrView("kept"));
  const char* values[] = {"D:\\logs\\a.txt", "E:", "/no//such///place"};
  EXPECT_EQ(normalize_path_option(3, values, list), 0);
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[0].view(), "kept");
  EXPECT_EQ(list[1].view(), "D:/logs/a.txt");
  EXPECT_EQ(list[2].view(), "E:/");
  EXPECT_EQ(list[3].view(), "/no/such//place");
}

// A scheduler's list: blank entries, line ends of either system, paths given twice (in the list
// or on the command line) and NUL-separated paths that hold line ends.
TEST(AddListedInputs, SkipsBlanksAndRepeatsAndSplitsWhereTold) {
  StringList inputs;
  inputs.emplace_back(StrView("/d/a.txt"));
  int32_t code = 0;
  EXPECT_EQ(add_listed_inputs("/d/b.txt\n\n/d/a.txt\r\n/d//c\r\n/d/b.txt\n/d/e.txt", '\n',
                              inputs, &code),
            2);
  EXPECT_EQ(code, 0);
  std::vector<std::string> paths;
  for (const SmallString& input : inputs) paths.emplace_back(input.view());
  EXPECT_EQ(paths, (std::vector<std::string>{"/d/a.txt", "/d/b.txt", "/d/c", "/d/e.txt"}));

  StringList nul;
  const char list[] = "/d/line\nend.txt\0\0/d/f.txt";
  EXPECT_EQ(add_listed_inputs(StrView(list, sizeof list - 1), '\0', nul, &code), 0);
  ASSERT_EQ(nul.size(), 2u);
  EXPECT_EQ(nul[0].view(), "/d/line\nend.txt");
  EXPECT_EQ(nul[1].view(), "/d/f.txt");
}

}  // namespace
}  // namespace velmarch
