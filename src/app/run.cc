#include "app/exit_status.h"
#include "app/tool_settings.h"

namespace velmarch {

int tool_main(int argc, char** argv) {
  int status = EXIT_OK;
  std::unique_ptr<ToolSettings> settings = tool_settings_create();
  if (!settings) return status;
  if (!tool_settings_parse(*settings, argc, argv, &status)) {
    tool_settings_release(settings);
    return status;
  }
  tool_settings_release(settings);
  return status;
}

}  // namespace velmarch
