// Path normalisation and the common root over arbitrary path lists: the input cut at NUL
// bytes is the list. Runs in a small scratch tree so that relative paths meet real files.

#include <string>

#include "fs/input_set.h"
#include "fs/path_value.h"
#include "fuzz_support.h"

namespace {

using namespace velmarch;

constexpr size_t MAX_PATHS = 16;

void check_views(StrView path) {
  StrView directory = path_directory_part(path);
  StrView name = path_file_name(path);
  StrView extension = path_extension(path);
  FUZZ_CHECK(directory.size() + name.size() == path.size());
  FUZZ_CHECK(path.substr(0, directory.size()) == directory);
  FUZZ_CHECK(path.substr(directory.size()) == name);
  FUZZ_CHECK(name.find('/') == StrView::npos);
  FUZZ_CHECK(extension.size() <= name.size());
  FUZZ_CHECK(name.substr(name.size() - extension.size()) == extension);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::enter_scratch_tree();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> pieces = fuzz::split_at_nul(data, size, MAX_PATHS);
  std::vector<const char*> values;
  for (const std::string& piece : pieces) values.push_back(piece.c_str());

  InputSet set;
  FUZZ_CHECK(normalize_path_option(static_cast<int>(values.size()), values.data(), set.inputs) ==
             0);
  FUZZ_CHECK(set.inputs.size() == pieces.size());
  StringList normalized = set.inputs;
  for (const SmallString& path : normalized) {
    FUZZ_CHECK(path.view().find('\\') == StrView::npos);
    check_views(path.view());
  }

  ExitStatus status = EXIT_OK;
  if (find_common_root(set, &status)) {
    FUZZ_CHECK(status.ok());
    StrView root = set.common_root.view();
    FUZZ_CHECK(!root.empty() && root.back() == '/');
    FUZZ_CHECK(set.inputs.size() == normalized.size());
    for (size_t i = 0; i < normalized.size(); ++i) {
      StrView whole = normalized[i].view();
      FUZZ_CHECK(whole.substr(0, root.size()) == root);
      FUZZ_CHECK(set.inputs[i].view() == whole.substr(root.size()));
    }
  } else {
    FUZZ_CHECK(status == EXIT_NO_COMMON_ROOT);
    FUZZ_CHECK(set.common_root.empty());
  }
  return 0;
}
