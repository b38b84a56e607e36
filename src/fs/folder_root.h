#pragma once

#include <cerrno>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "base/small_string.h"
#include "platform/path_status.h"
#include "platform/result.h"
#include "stream/byte_stream.h"

namespace velmarch {

struct ByteOrder {
  bool operator()(const SmallString& a, const SmallString& b) const { return a.view() < b.view(); }
};
/// A folder's entries in ascending unsigned byte order of their names.
using DirEntryMap = std::map<SmallString, PathStatus, ByteOrder>;

enum OpenFlags : uint32_t {
  OPEN_READ = 1,
  OPEN_WRITE = 2,
  /// Other processes may read and write the file meanwhile. Callers ask for it; every file is
  /// opened that way anyway, so the platform ignores the bit.
  OPEN_SHARED = 4,
};

/// A view of the files below one existing folder. The operations take full paths; the
/// folder_root_* functions build those from paths relative to the root. The base answers as
/// an absent implementation would: stat, make_directory, remove, open, create_new, rename and
/// sync fail without a reason, list succeeds with nothing, identify fails with EIO.
class FolderRoot {
 public:
  explicit FolderRoot(StrView root) : root_(root) {}
  virtual ~FolderRoot() = default;

  const SmallString& root() const { return root_; }

  /// Follows links. A missing path is a successful answer of kind PATH_MISSING.
  virtual Result<PathStatus> stat(StrView /*full_path*/) { return Status::failure(); }
  /// Fails when the folder could not be enumerated; the entries then stay as they were.
  virtual Status list(StrView /*full_path*/, DirEntryMap& /*entries*/) { return Status(); }
  virtual Status make_directory(StrView /*full_path*/) { return Status::failure(); }
  virtual Status remove(StrView /*full_path*/) { return Status::failure(); }
  virtual Result<std::unique_ptr<ByteStream>> open(StrView /*full_path*/, uint32_t /*flags*/) {
    return Status::failure();
  }
  /// A new file for writing with the given permission bits (0: the platform's default). Fails
  /// with EEXIST when anything is at the path, a link included, which is never followed.
  virtual Result<std::unique_ptr<ByteStream>> create_new(StrView /*full_path*/,
                                                         uint32_t /*permissions*/) {
    return Status::failure();
  }
  /// Moves a file to another name of the same folder in one step. With replace whatever is
  /// there (a link included) is replaced; without, anything there fails it with EEXIST.
  virtual Status rename(StrView /*from*/, StrView /*to*/, bool /*replace*/) {
    return Status::failure();
  }
  /// Makes the data of the files and their folder entries durable.
  virtual Status sync(const std::vector<SmallString>& /*full_paths*/) { return Status::failure(); }
  /// The entry itself (a link is not followed); ENOENT when nothing is there.
  virtual Result<PathStatus> identify(StrView /*full_path*/) { return Status::failure(EIO); }

 private:
  SmallString root_;
};

/// A root with the platform's operations over an existing folder. ENOENT when nothing is there,
/// a failure without reason when something other than a folder is.
Result<std::unique_ptr<FolderRoot>> folder_root_create(StrView folder);

/// Appends the root, "/" when both parts are non-empty, and the relative path. A relative path
/// of exactly ".." is refused: nothing is appended.
void folder_root_full_path(const FolderRoot& root, StrView relative, SmallString& out);
Result<PathStatus> folder_root_stat(FolderRoot* root, StrView relative);
/// Fills entries with the folder's files and sub-folders; fails when it cannot be enumerated.
Status folder_root_list(FolderRoot* root, StrView relative, DirEntryMap& entries);
/// ENOTDIR when something other than a folder is there.
Status folder_root_ensure_directory(FolderRoot* root, StrView relative);
/// Ensures every folder of the relative path, outermost first; stops at the first failure.
Status folder_root_make_directories(FolderRoot* root, StrView relative);
/// Reads with OPEN_READ, writes (creating or truncating) with OPEN_WRITE, both with both; other
/// bits are ignored, and without either bit nothing is opened.
Result<std::unique_ptr<ByteStream>> folder_root_open(FolderRoot* root, StrView relative,
                                                     uint32_t flags);
Status folder_root_remove(FolderRoot* root, StrView relative);
Result<std::unique_ptr<ByteStream>> folder_root_create_new(FolderRoot* root, StrView relative,
                                                           uint32_t permissions);
Status folder_root_rename(FolderRoot* root, StrView from, StrView to, bool replace);
Status folder_root_sync(FolderRoot* root, const std::vector<SmallString>& relative_paths);
Result<PathStatus> folder_root_identify(FolderRoot* root, StrView relative);

/// The platform's status query. A missing path is a successful answer of kind PATH_MISSING.
Result<PathStatus> stat_path(StrView path);

}  // namespace velmarch
