#include <argtable2.h>

#include <cstdio>

#include "app/tool_settings.h"

namespace velmarch {

bool tool_settings_parse(ToolSettings& /*settings*/, int argc, char** argv, int* /*status*/) {
  struct arg_lit* help = arg_lit0(nullptr, "help", "display this help and exit");
  struct arg_end* end_marker = arg_end(20);
  void* table[] = {help, end_marker};
  if (arg_nullcheck(table) == 0) {
    arg_parse(argc, argv, table);
    if (help->count > 0 || argc == 1) {
      std::fputs("Usage: velmarch", stdout);
      arg_print_syntax(stdout, table, "\n\n");
      arg_print_glossary(stdout, table, "  %-40s %s\n");
    }
  }
  arg_freetable(table, sizeof(table) / sizeof(table[0]));
  return false;
}

}  // namespace velmarch
