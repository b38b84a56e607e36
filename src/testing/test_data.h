#pragma once

#include <fstream>
#include <sstream>
#include <string>

namespace velmarch {

/// The bytes of a file in tests/data.
inline std::string read_test_data(const std::string& name) {
  std::ifstream in(std::string(VELMARCH_TEST_DATA_DIR) + "/" + name, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

}  // namespace velmarch
