#include "app/tool_settings.h"

#include <new>

#include "app/trace_format_option.h"

namespace velmarch {

namespace {

class ProgramHooks final : public ToolSettingsHooks {
 public:
  bool add_options(ToolSettings& settings, OptionTable& table) const override {
    return add_trace_format_option(settings, table);
  }
};

const ProgramHooks program_hooks;

}  // namespace

std::unique_ptr<ToolSettings> tool_settings_create() {
  std::unique_ptr<ToolSettings> settings(new (std::nothrow) ToolSettings());
  if (!settings) return nullptr;
  settings->hooks = &program_hooks;
  settings->trace_version = 0;
  return settings;
}

int32_t tool_settings_trace_version(const ToolSettings* settings) {
  return settings != nullptr ? settings->trace_version : 0;
}

void tool_settings_release(std::unique_ptr<ToolSettings>& settings) {
  if (!settings) return;
  if (settings->hooks != nullptr) settings->hooks->release(*settings);
  settings->input_set.common_root.free();
  settings->input_set.inputs.clear();
  settings->output_directories.clear();
  // The output root is released on its own only when it is not the input root.
  settings->output_root = nullptr;
  folder_root_release(settings->separate_output_root);
  folder_root_release(settings->input_root);
  settings.reset();
}

}  // namespace velmarch
