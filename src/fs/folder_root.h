#pragma once

#include <cerrno>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "base/small_string.h"
#include "platform/platform.h"
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

enum class RenameResult { done, exists, failed };

/// A view of the files below one existing folder. The operations take full paths; the
/// folder_root_* functions build those from paths relative to the root. The base answers as
/// an absent implementation would: stat false, list nothing, make_directory, remove and open
/// fail.
class FolderRoot {
 public:
  explicit FolderRoot(StrView root) : root_(root) {}
  virtual ~FolderRoot() = default;

  const SmallString& root() const { return root_; }

  virtual bool stat(StrView /*full_path*/, PathStatus& /*status*/) { return false; }
  /// False when the folder could not be enumerated; the entries then stay as they were.
  virtual bool list(StrView /*full_path*/, DirEntryMap& /*entries*/) { return true; }
  virtual bool make_directory(StrView /*full_path*/) { return false; }
  virtual bool remove(StrView /*full_path*/) { return false; }
  virtual std::unique_ptr<ByteStream> open(StrView /*full_path*/, uint32_t /*flags*/) {
    return nullptr;
  }
  /// A new file for writing with the given permission bits (0: the platform's default); null
  /// when anything is at the path, a link included, which is never followed. *exists says why.
  virtual std::unique_ptr<ByteStream> create_new(StrView /*full_path*/, uint32_t /*permissions*/,
                                                 bool* exists) {
    *exists = false;
    return nullptr;
  }
  /// Moves a file to another name of the same folder in one step. With replace whatever is
  /// there (a link included) is replaced; without, anything there answers exists.
  virtual RenameResult rename(StrView /*from*/, StrView /*to*/, bool /*replace*/) {
    return RenameResult::failed;
  }
  /// Makes the data of the files and their folder entries durable.
  virtual bool sync(const std::vector<SmallString>& /*full_paths*/) { return false; }
  /// The identity of the entry itself (a link is not followed): 0, ENOENT when nothing is
  /// there, or another error number.
  virtual int identify(StrView /*full_path*/, PathStatus& /*identity*/) { return EIO; }

 private:
  SmallString root_;
};

/// A root with the platform's operations over an existing folder; null otherwise.
std::unique_ptr<FolderRoot> folder_root_create(StrView folder);

/// Appends the root, "/" when both parts are non-empty, and the relative path. A relative path
/// of exactly ".." is refused: nothing is appended.
void folder_root_full_path(const FolderRoot& root, StrView relative, SmallString& out);
bool folder_root_stat(FolderRoot* root, StrView relative, PathStatus* status);
/// Fills entries with the folder's files and sub-folders; false when it cannot be enumerated.
bool folder_root_list(FolderRoot* root, StrView relative, DirEntryMap& entries);
bool folder_root_ensure_directory(FolderRoot* root, StrView relative);
/// Ensures every folder of the relative path, outermost first; stops at the first failure.
bool folder_root_make_directories(FolderRoot* root, StrView relative);
/// Reads with OPEN_READ, writes (creating or truncating) with OPEN_WRITE, both with both; other
/// bits are ignored, and without either bit nothing is opened.
std::unique_ptr<ByteStream> folder_root_open(FolderRoot* root, StrView relative, uint32_t flags);
bool folder_root_remove(FolderRoot* root, StrView relative);
std::unique_ptr<ByteStream> folder_root_create_new(FolderRoot* root, StrView relative,
                                                   uint32_t permissions, bool* exists);
RenameResult folder_root_rename(FolderRoot* root, StrView from, StrView to, bool replace);
bool folder_root_sync(FolderRoot* root, const std::vector<SmallString>& relative_paths);
int folder_root_identify(FolderRoot* root, StrView relative, PathStatus& identity);

/// The platform's status query. A missing path is a successful answer of kind PATH_MISSING.
bool stat_path(StrView path, PathStatus& status);

}  // namespace velmarch
