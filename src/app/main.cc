#include <new>

#include "base/exit_status.h"
#include "app/tool_settings.h"
#include "diag/log.h"

int main(int argc, char** argv) {
  try {
    return velmarch::tool_main(argc, argv);
  } catch (const std::bad_alloc&) {
    DIAG(velmarch::LOG_FATAL, "Out of memory");
    return velmarch::EXIT_INTERNAL.value();
  }
}
