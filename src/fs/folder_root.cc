#include "fs/folder_root.h"

#include <cerrno>
#include <new>

#include "platform/platform.h"
#include "stream/file_stream.h"

namespace velmarch {

namespace {

// The root, "/" when both parts are non-empty, and the relative path. When memory runs out
// nothing is appended: a cut path could name another file.
bool append_full_path(const FolderRoot& root, StrView relative, SmallString& out) {
  int64_t old_size = out.size();
  bool ok = out.append(root.root().view()) != nullptr;
  if (ok && !root.root().empty() && !relative.empty()) ok = out.append("/", 1) != nullptr;
  if (ok && !relative.empty()) ok = out.append(relative) != nullptr;
  if (!ok) out.set_length(old_size);
  return ok;
}

// A terminated copy for the platform calls; false when memory runs out.
bool copy_terminated(StrView text, SmallString& out) {
  return out.append(text.empty() ? StrView("") : text) != nullptr;
}

class PlatformFolderRoot final : public FolderRoot {
 public:
  explicit PlatformFolderRoot(StrView root) : FolderRoot(root) {}

  bool stat(StrView full_path, PathStatus& status) override { return stat_path(full_path, status); }

  bool list(StrView full_path, DirEntryMap& entries) override {
    struct Listing {
      StrView folder;
      DirEntryMap* entries;
      SmallString entry_path;
    } listing{full_path, &entries, {}};
    auto on_name = [](void* context, const char* name) {
      auto* self = static_cast<Listing*>(context);
      StrView entry(name);
      if (entry == "." || entry == "..") return;
      self->entry_path.clear();
      if (self->entry_path.append(self->folder) == nullptr ||
          self->entry_path.append("/", 1) == nullptr || self->entry_path.append(entry) == nullptr) {
        return;
      }
      // The entry's own status, not the enumeration's, decides its kind and size.
      PathStatus status;
      if (!stat_path(self->entry_path.view(), status)) return;
      if (status.kind != PATH_FILE && status.kind != PATH_DIRECTORY) return;
      SmallString key;
      if (!copy_terminated(entry, key)) return;
      self->entries->emplace(std::move(key), status);
    };
    SmallString folder;
    if (!copy_terminated(full_path, folder)) return false;
    return platform_list_directory(folder.c_str(), on_name, &listing);
  }

  bool make_directory(StrView full_path) override {
    SmallString path;
    return copy_terminated(full_path, path) && platform_make_directory(path.c_str());
  }

  bool remove(StrView full_path) override {
    SmallString path;
    return copy_terminated(full_path, path) && platform_remove(path.c_str());
  }

  std::unique_ptr<ByteStream> open(StrView full_path, uint32_t flags) override {
    int mode;
    if ((flags & OPEN_READ) != 0 && (flags & OPEN_WRITE) != 0) {
      mode = FILE_STREAM_READ_WRITE;
    } else if ((flags & OPEN_READ) != 0) {
      mode = FILE_STREAM_READ;
    } else if ((flags & OPEN_WRITE) != 0) {
      mode = FILE_STREAM_WRITE;
    } else {
      return nullptr;
    }
    SmallString path;
    if (!copy_terminated(full_path, path)) return nullptr;
    return file_stream_open(path.c_str(), mode);
  }

  std::unique_ptr<ByteStream> create_new(StrView full_path, uint32_t permissions,
                                         bool* exists) override {
    *exists = false;
    SmallString path;
    if (!copy_terminated(full_path, path)) return nullptr;
    int error = 0;
    std::unique_ptr<ByteStream> stream = file_stream_create_new(path.c_str(), permissions, &error);
    *exists = !stream && error == EEXIST;
    return stream;
  }

  RenameResult rename(StrView from, StrView to, bool replace) override {
    SmallString from_path, to_path;
    if (!copy_terminated(from, from_path) || !copy_terminated(to, to_path)) {
      return RenameResult::failed;
    }
    int error = platform_rename(from_path.c_str(), to_path.c_str(), replace);
    if (error == 0) return RenameResult::done;
    return error == EEXIST ? RenameResult::exists : RenameResult::failed;
  }

  bool sync(const std::vector<SmallString>& full_paths) override {
    std::vector<const char*> names;
    names.reserve(full_paths.size());
    for (const SmallString& path : full_paths) names.push_back(path.c_str());
    return platform_sync(names.data(), names.size());
  }

  int identify(StrView full_path, PathStatus& identity) override {
    SmallString path;
    if (!copy_terminated(full_path, path)) return ENOMEM;
    return platform_path_identity(path.c_str(), &identity);
  }
};

}  // namespace

bool stat_path(StrView path, PathStatus& status) {
  SmallString terminated;
  if (!copy_terminated(path, terminated)) return false;
  PathStatus info;
  int error = platform_stat(terminated.c_str(), &info);
  if (error == ENOENT) {
    status = PathStatus{};
    status.kind = PATH_MISSING;
    return true;
  }
  if (error != 0) return false;
  status = info;
  return true;
}

std::unique_ptr<FolderRoot> folder_root_create(StrView folder) {
  std::unique_ptr<FolderRoot> root(new (std::nothrow) PlatformFolderRoot(folder));
  if (!root || root->root().view() != folder) return nullptr;
  PathStatus status;
  if (!stat_path(root->root().view(), status) || status.kind != PATH_DIRECTORY) return nullptr;
  return root;
}


void folder_root_full_path(const FolderRoot& root, StrView relative, SmallString& out) {
  if (relative == "..") return;
  append_full_path(root, relative, out);
}

// The operations that touch the file system clear errno first: what it holds after a failure
// is then that failure's reason, or 0 when none was given (see DIAG_FAILURE).
bool folder_root_stat(FolderRoot* root, StrView relative, PathStatus* status) {
  errno = 0;
  if (root == nullptr || status == nullptr) return false;
  SmallString full;
  return append_full_path(*root, relative, full) && root->stat(full.view(), *status);
}

bool folder_root_list(FolderRoot* root, StrView relative, DirEntryMap& entries) {
  errno = 0;
  if (root == nullptr) return false;
  SmallString full;
  return append_full_path(*root, relative, full) && root->list(full.view(), entries);
}

bool folder_root_ensure_directory(FolderRoot* root, StrView relative) {
  errno = 0;
  if (root == nullptr) return false;
  SmallString full;
  PathStatus status;
  if (!append_full_path(*root, relative, full) || !root->stat(full.view(), status)) return false;
  switch (status.kind) {
    case PATH_DIRECTORY:
      return true;
    case PATH_MISSING:
      return root->make_directory(full.view());
    default:
      errno = ENOTDIR;  // a file where a folder should be
      return false;
  }
}

bool folder_root_make_directories(FolderRoot* root, StrView relative) {
  // Every step starts with "/", so under the root "out/" the folder a is "out///a": the
  // platform reads a run of separators as one.
  SmallString accumulated;
  size_t start = 0;
  while (start <= relative.size()) {
    size_t end = relative.find('/', start);
    if (end == StrView::npos) end = relative.size();
    StrView piece = relative.substr(start, end - start);
    if (!piece.empty()) {
      int wanted = static_cast<int>(piece.size()) + 1;
      if (small_string_printf_append(accumulated, "%s%.*s", "/", STR_VIEW_ARG(piece)) != wanted) {
        return false;
      }
      if (!folder_root_ensure_directory(root, accumulated.view())) return false;
    }
    start = end + 1;
  }
  return true;
}

std::unique_ptr<ByteStream> folder_root_open(FolderRoot* root, StrView relative, uint32_t flags) {
  errno = 0;
  if (root == nullptr) return nullptr;
  SmallString full;
  if (!append_full_path(*root, relative, full)) return nullptr;
  return root->open(full.view(), flags);
}

bool folder_root_remove(FolderRoot* root, StrView relative) {
  errno = 0;
  if (root == nullptr) return false;
  SmallString full;
  return append_full_path(*root, relative, full) && root->remove(full.view());
}

std::unique_ptr<ByteStream> folder_root_create_new(FolderRoot* root, StrView relative,
                                                   uint32_t permissions, bool* exists) {
  errno = 0;
  *exists = false;
  if (root == nullptr) return nullptr;
  SmallString full;
  if (!append_full_path(*root, relative, full)) return nullptr;
  return root->create_new(full.view(), permissions, exists);
}

RenameResult folder_root_rename(FolderRoot* root, StrView from, StrView to, bool replace) {
  errno = 0;
  if (root == nullptr) return RenameResult::failed;
  SmallString full_from, full_to;
  if (!append_full_path(*root, from, full_from) || !append_full_path(*root, to, full_to)) {
    return RenameResult::failed;
  }
  return root->rename(full_from.view(), full_to.view(), replace);
}

bool folder_root_sync(FolderRoot* root, const std::vector<SmallString>& relative_paths) {
  errno = 0;
  if (root == nullptr) return false;
  std::vector<SmallString> full_paths(relative_paths.size());
  for (size_t i = 0; i < relative_paths.size(); ++i) {
    if (!append_full_path(*root, relative_paths[i].view(), full_paths[i])) return false;
  }
  return root->sync(full_paths);
}

int folder_root_identify(FolderRoot* root, StrView relative, PathStatus& identity) {
  if (root == nullptr) return EINVAL;
  SmallString full;
  if (!append_full_path(*root, relative, full)) return ENOMEM;
  return root->identify(full.view(), identity);
}

}  // namespace velmarch
