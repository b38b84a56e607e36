#pragma once

#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace velmarch {

/// Log lines with each line's time, process and thread ids taken off, so that only the level
/// letter and the message remain: "E Could not open log".
inline std::vector<std::string> masked_log(const std::string& err) {
  static const std::regex prefix(R"(^\d\d-\d\d \d\d:\d\d:\d\d\.\d\d\d +-?\d+ +-?\d+ )");
  std::vector<std::string> lines;
  std::istringstream in(err);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(std::regex_replace(line, prefix, ""));
  }
  return lines;
}

}  // namespace velmarch
