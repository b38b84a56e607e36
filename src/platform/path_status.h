#pragma once

#include <cstdint>

namespace velmarch {

enum PathKind : int32_t {
  PATH_OTHER = 0,
  PATH_FILE = 1,
  PATH_DIRECTORY = 2,
  PATH_MISSING = 3,
};

/// What one entry of the file system is: the answer of a status query (links followed), of an
/// open file, or of the entry itself (a link not followed: is_link, and kind PATH_OTHER).
struct PathStatus {
  PathKind kind = PATH_MISSING;
  int64_t size = 0;  // bytes; a status query gives it for files only
  // Identity where the platform gives one (0 otherwise): volume and file index on it, so that a
  // walk can tell a folder it is already inside and a deletion the very file it read.
  uint64_t device = 0;
  uint64_t inode = 0;
  int64_t modified_ns = 0;   // last modification, nanoseconds since 1970
  uint32_t permissions = 0;  // permission bits, where the platform has them
  bool is_link = false;      // the entry itself is a symbolic link (or reparse point)
};

/// A regular file: not a folder, link or device.
inline bool is_regular_file(const PathStatus& status) {
  return status.kind == PATH_FILE && !status.is_link;
}

/// Both regular and still the same file in the same state: what tells one file from another,
/// and a file from its own earlier state.
inline bool same_file_state(const PathStatus& a, const PathStatus& b) {
  return is_regular_file(a) && is_regular_file(b) && a.device == b.device &&
         a.inode == b.inode && a.size == b.size && a.modified_ns == b.modified_ns;
}

}  // namespace velmarch
