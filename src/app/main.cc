#include <new>

#include "base/exit_status.h"
#include "app/tool_settings.h"

int main(int argc, char** argv) {
  try {
    return velmarch::tool_main(argc, argv);
  } catch (const std::bad_alloc&) {
    return velmarch::EXIT_INTERNAL;
  }
}
