#pragma once

#include <string>

namespace velmarch {

/// A fresh folder under /tmp for one test, removed with everything in it at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  /// The folder's path, without a trailing "/"; empty when it could not be made.
  const std::string& path() const { return path_; }
  /// path() + "/" + relative.
  std::string at(const std::string& relative) const { return path_ + "/" + relative; }
  void write_file(const std::string& relative, const std::string& content) const;
  void make_directory(const std::string& relative) const;

 private:
  std::string path_;
};

/// Makes a folder the current directory while it lives, then goes back.
class ScopedCurrentDirectory {
 public:
  explicit ScopedCurrentDirectory(const std::string& path);
  ~ScopedCurrentDirectory();
  ScopedCurrentDirectory(const ScopedCurrentDirectory&) = delete;
  ScopedCurrentDirectory& operator=(const ScopedCurrentDirectory&) = delete;

 private:
  std::string previous_;
};

}  // namespace velmarch
