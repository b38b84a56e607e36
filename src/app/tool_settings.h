#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "convert/conversion_flags.h"
#include "fs/folder_root.h"
#include "fs/input_set.h"

namespace velmarch {

struct ToolSettings;
/// The argtable option table while it is being built, in row order.
using OptionTable = std::vector<void*>;

/// Optional tool-specific steps; the base answers as absent steps would.
class ToolSettingsHooks {
 public:
  virtual ~ToolSettingsHooks() = default;
  /// Appends options to the table being built; false aborts parsing.
  virtual bool add_options(ToolSettings& /*settings*/, OptionTable& /*table*/) const {
    return true;
  }
  /// Runs after a successful parse; its result replaces the parse result.
  virtual bool after_parse(ToolSettings& /*settings*/) const { return true; }
  /// Extra clean-up at the start of release.
  virtual void release(ToolSettings& /*settings*/) const {}
};

/// Owns the inputs, the common root and both folder roots; they go in reverse order of the
/// fields, the output root before the input root.
struct ToolSettings {
  ToolSettings() = default;
  ToolSettings(const ToolSettings&) = delete;
  ToolSettings& operator=(const ToolSettings&) = delete;
  ~ToolSettings();

  const ToolSettingsHooks* hooks = nullptr;
  ConversionFlags flags;
  InputSet input_set;
  StringList output_directories;
  StringList report_paths;  // --report: at most one
  bool standard_streams = false;  // "-": standard input to standard output
  std::unique_ptr<FolderRoot> input_root;
  /// Either input_root itself or separate_output_root.
  FolderRoot* output_root = nullptr;
  std::unique_ptr<FolderRoot> separate_output_root;
  int32_t trace_version = 0;  // a TraceFormatId once the command line is parsed
};

/// A record with every default and the program's hooks; null when memory runs out.
std::unique_ptr<ToolSettings> tool_settings_create();
/// True when conversion goes ahead; false stops the run with *status as it then stands.
bool tool_settings_parse(ToolSettings& settings, int argc, char** argv, ExitStatus* status);
int32_t tool_settings_trace_version(const ToolSettings* settings);

/// The program entry: parse, convert, release; answers the exit status.
int tool_main(int argc, char** argv);

}  // namespace velmarch
