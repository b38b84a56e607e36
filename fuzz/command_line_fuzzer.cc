// The command line over arbitrary argument vectors: the input cut at NUL bytes gives the
// arguments after the program name. Parsing must come back (never exit or crash) with one of
// the exit statuses of the command line; standard input is empty. Runs in a small scratch tree so that paths meet real
// files and folders; the usage and errors printed on standard output go to /dev/null.

#include <set>
#include <string>
#include <vector>

#include "base/exit_status.h"
#include "app/tool_settings.h"
#include "app/trace_format_option.h"
#include "fuzz_support.h"

namespace {

using namespace velmarch;

constexpr size_t MAX_ARGUMENTS = 64;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::enter_scratch_tree();
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
  // "--files-from=-" reads standard input: it must end at once.
  if (std::freopen("/dev/null", "r", stdin) == nullptr) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> arguments = fuzz::split_at_nul(data, size, MAX_ARGUMENTS);
  if (size == 0) arguments.clear();
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>("velmarch"));
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  std::unique_ptr<ToolSettings> settings = tool_settings_create();
  FUZZ_CHECK(settings);
  ExitStatus status = EXIT_OK;
  bool go_on = tool_settings_parse(*settings, static_cast<int>(argv.size() - 1), argv.data(),
                                   &status);
  static const std::set<int> statuses = {
      EXIT_OK.value(),        EXIT_INPUT_MISSING.value(),  EXIT_INTERNAL.value(),
      EXIT_MISSING_VALUE.value(), EXIT_BAD_VALUE.value(), EXIT_NO_COMMON_ROOT.value(),
      EXIT_COMMAND_LINE.value()};
  FUZZ_CHECK(statuses.count(status.value()) == 1);
  if (go_on) {
    FUZZ_CHECK(status == EXIT_OK);
    FUZZ_CHECK(settings->input_root && settings->output_root);
    FUZZ_CHECK(trace_format_create(tool_settings_trace_version(settings.get())) != nullptr);
    // "-" converts standard input and has no inputs of the walk; an empty --files-from list
    // has none either, but a root all the same.
    if (!settings->standard_streams) {
      StrView root = settings->input_set.common_root.view();
      FUZZ_CHECK(!root.empty() && root.back() == '/');
    }
  }
  return 0;
}
