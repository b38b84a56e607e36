#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "fs/folder_root.h"

namespace velmarch {

/// A folder tree held in memory. Paths are the full paths the folder_root_* functions build,
/// with runs of "/" read as one, as the platform does. Folders are made one level at a time,
/// files opened for reading (or reading and writing) must exist, files opened for writing alone
/// need their folder and start empty. Records what was made, opened, closed and removed, and
/// fails chosen operations on chosen paths.
class MemoryFolderRoot final : public FolderRoot {
 public:
  explicit MemoryFolderRoot(StrView root = "/mem/");

  /// Adds a file (and the folders above it) below the root; path is relative to the root.
  void add_file(const std::string& path, const std::string& content);
  void add_directory(const std::string& path);
  bool has_file(const std::string& path) const;
  /// The content of a file below the root, written or added; empty when there is none.
  std::string file(const std::string& path) const;

  bool stat(StrView full_path, PathStatus& status) override;
  bool list(StrView full_path, DirEntryMap& entries) override;
  bool make_directory(StrView full_path) override;
  bool remove(StrView full_path) override;
  std::unique_ptr<ByteStream> open(StrView full_path, uint32_t flags) override;

  // Relative paths whose operation fails. A failed close still ends the stream, as fclose does.
  std::set<std::string> fail_stat, fail_open, fail_remove, fail_close, fail_make_directory;
  /// Relative paths of folders that cannot be enumerated.
  std::set<std::string> fail_list;
  /// Relative path of an input whose reads fail from this offset on.
  std::map<std::string, int64_t> fail_reads_from;
  /// Relative path of an output that accepts this many bytes, then writes come up short.
  std::map<std::string, int64_t> write_budget;

  std::vector<std::string> directories_made, files_opened, files_removed;
  int closes = 0;  // close calls on opened files, failed ones included

 private:
  class File;
  std::string relative(StrView full_path) const;
  bool is_directory(const std::string& path) const;
  bool parent_exists(const std::string& path) const;

  std::string prefix_;
  std::map<std::string, std::string> files_;
  std::set<std::string> directories_;
};

}  // namespace velmarch
