#include "testing/temp_dir.h"

#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/platform.h"

namespace velmarch {

TempDir::TempDir() {
  std::string name_template = "/tmp/velmarch-test-XXXXXX";
  std::vector<char> name(name_template.begin(), name_template.end());
  name.push_back('\0');
  if (platform_make_temp_directory(name.data())) path_ = name.data();
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

void TempDir::write_file(const std::string& relative, const std::string& content) const {
  std::ofstream(at(relative), std::ios::binary) << content;
}

void TempDir::make_directory(const std::string& relative) const {
  (void)platform_make_directory(at(relative).c_str());
}

ScopedCurrentDirectory::ScopedCurrentDirectory(const std::string& path) {
  char buffer[4096];
  if (platform_current_directory(buffer, sizeof buffer)) previous_ = buffer;
  platform_change_directory(path.c_str());
}

ScopedCurrentDirectory::~ScopedCurrentDirectory() {
  if (!previous_.empty()) platform_change_directory(previous_.c_str());
}

}  // namespace velmarch
