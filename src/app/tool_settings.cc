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

ToolSettings::~ToolSettings() {
  if (hooks != nullptr) hooks->release(*this);
}

}  // namespace velmarch
