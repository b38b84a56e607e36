#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "fs/folder_root.h"

namespace velmarch {

/// A folder tree held in memory. Paths are the full paths the folder_root_* functions build,
/// with runs of "/" read as one, as the platform does. Folders are made one level at a time,
/// files opened for reading (or reading and writing) must exist, files opened for writing alone
/// need their folder and start empty. Records what was made, opened, closed and removed, every
/// call that changes the tree in order, and fails chosen operations on chosen paths. The
/// operations of FolderRoot may come from several threads; the test's own only from one.
///
/// A fault named for a trace's final path also hits the temporary file it is written under.
class MemoryFolderRoot final : public FolderRoot {
 public:
  explicit MemoryFolderRoot(StrView root = "/mem/");

  /// Adds a file (and the folders above it) below the root; path is relative to the root. A
  /// file added again is another file: a new identity, as a rename over it would give.
  void add_file(const std::string& path, const std::string& content, uint32_t permissions = 0);
  void add_directory(const std::string& path);
  /// Marks an entry as a symbolic link to what it holds: stat says so, identify finds no
  /// regular file.
  void make_link(const std::string& path);
  /// Appends to a file in place: same identity, later state.
  void append(const std::string& path, const std::string& content);
  bool has_file(const std::string& path) const;
  /// The content of a file below the root, written or added; empty when there is none.
  std::string file(const std::string& path) const;
  /// Permission bits a file was created with; 0 when none were given.
  uint32_t permissions(const std::string& path) const;
  /// Every file below the root, temporary ones included.
  std::vector<std::string> files() const;

  Result<PathStatus> stat(StrView full_path) override;
  Status list(StrView full_path, DirEntryMap& entries) override;
  Status make_directory(StrView full_path) override;
  Status remove(StrView full_path) override;
  Result<std::unique_ptr<ByteStream>> open(StrView full_path, uint32_t flags) override;
  Result<std::unique_ptr<ByteStream>> create_new(StrView full_path,
                                                 uint32_t permissions) override;
  Status rename(StrView from, StrView to, bool replace) override;
  Status sync(const std::vector<SmallString>& full_paths) override;
  Result<PathStatus> identify(StrView full_path) override;

  // Relative paths whose operation fails, without a reason of the system's (EEXIST aside, which
  // says what is there). A failed close still ends the stream, as fclose does.
  std::set<std::string> fail_stat, fail_open, fail_remove, fail_close, fail_make_directory,
      fail_rename;
  /// Relative paths of folders that cannot be enumerated.
  std::set<std::string> fail_list;
  /// Relative path of an input whose reads fail from this offset on.
  std::map<std::string, int64_t> fail_reads_from;
  /// Relative path of an output that accepts this many bytes, then writes come up short.
  std::map<std::string, int64_t> write_budget;
  bool fail_sync = false;
  /// Called when a file is opened for reading, with its relative path: a test changes the tree
  /// while the file is being converted.
  std::function<void(const std::string&)> on_open_for_reading;

  std::vector<std::string> directories_made, files_opened, files_removed;
  int closes = 0;  // close calls on opened files, failed ones included
  /// "create <path>", "rename <from> -> <to>", "sync <path> <path>...", "remove <path>", in the
  /// order they were made.
  std::vector<std::string> calls;

 private:
  class File;
  struct Node {
    std::string content;
    uint64_t inode = 0;
    int64_t version = 0;
    uint32_t permissions = 0;
  };
  std::string relative(StrView full_path) const;
  bool is_directory(const std::string& path) const;
  bool parent_exists(const std::string& path) const;
  bool exists(const std::string& path) const;
  void write_content(const std::string& path, const std::string& content);

  // Files converted side by side reach the tree from several threads.
  std::unique_ptr<std::recursive_mutex> lock_ = std::make_unique<std::recursive_mutex>();
  std::string prefix_;
  std::map<std::string, Node> files_;
  std::set<std::string> directories_;
  std::set<std::string> links_;
  uint64_t next_inode_ = 1;
};

}  // namespace velmarch
