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

  Result<PathStatus> stat(StrView full_path) override { return stat_path(full_path); }

  Status list(StrView full_path, DirEntryMap& entries) override {
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
      Result<PathStatus> status = stat_path(self->entry_path.view());
      if (!status.ok()) return;
      if (status.value().kind != PATH_FILE && status.value().kind != PATH_DIRECTORY) return;
      SmallString key;
      if (!copy_terminated(entry, key)) return;
      self->entries->emplace(std::move(key), status.value());
    };
    SmallString folder;
    if (!copy_terminated(full_path, folder)) return Status::failure();
    return platform_list_directory(folder.c_str(), on_name, &listing);
  }

  Status make_directory(StrView full_path) override {
    SmallString path;
    if (!copy_terminated(full_path, path)) return Status::failure();
    return platform_make_directory(path.c_str());
  }

  Status remove(StrView full_path) override {
    SmallString path;
    if (!copy_terminated(full_path, path)) return Status::failure();
    return platform_remove(path.c_str());
  }

  Result<std::unique_ptr<ByteStream>> open(StrView full_path, uint32_t flags) override {
    int mode;
    if ((flags & OPEN_READ) != 0 && (flags & OPEN_WRITE) != 0) {
      mode = FILE_STREAM_READ_WRITE;
    } else if ((flags & OPEN_READ) != 0) {
      mode = FILE_STREAM_READ;
    } else if ((flags & OPEN_WRITE) != 0) {
      mode = FILE_STREAM_WRITE;
    } else {
      return Status::failure();
    }
    SmallString path;
    if (!copy_terminated(full_path, path)) return Status::failure();
    return file_stream_open(path.c_str(), mode);
  }

  Result<std::unique_ptr<ByteStream>> create_new(StrView full_path,
                                                 uint32_t permissions) override {
    SmallString path;
    if (!copy_terminated(full_path, path)) return Status::failure();
    return file_stream_create_new(path.c_str(), permissions);
  }

  Status rename(StrView from, StrView to, bool replace) override {
    SmallString from_path, to_path;
    if (!copy_terminated(from, from_path) || !copy_terminated(to, to_path)) {
      return Status::failure();
    }
    return platform_rename(from_path.c_str(), to_path.c_str(), replace);
  }

  Status sync(const std::vector<SmallString>& full_paths) override {
    std::vector<const char*> names;
    names.reserve(full_paths.size());
    for (const SmallString& path : full_paths) names.push_back(path.c_str());
    return platform_sync(names.data(), names.size());
  }

  Result<PathStatus> identify(StrView full_path) override {
    SmallString path;
    if (!copy_terminated(full_path, path)) return Status::failure(ENOMEM);
    return platform_path_identity(path.c_str());
  }
};

}  // namespace

Result<PathStatus> stat_path(StrView path) {
  SmallString terminated;
  if (!copy_terminated(path, terminated)) return Status::failure();
  Result<PathStatus> status = platform_stat(terminated.c_str());
  if (status.error() == ENOENT) {
    PathStatus missing;
    missing.kind = PATH_MISSING;
    return missing;
  }
  return status;
}

namespace {

// Why a folder that is not there cannot be had: a file on the way to it is the system's "Not a
// directory", anything else that it does not exist.
int missing_folder_reason(StrView folder) {
  StrView path = folder;
  for (;;) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    size_t slash = path.rfind('/');
    if (slash == StrView::npos || slash == 0) return ENOENT;
    path = path.substr(0, slash);
    Result<PathStatus> above = stat_path(path);
    if (!above.ok()) return ENOENT;
    if (above.value().kind == PATH_DIRECTORY) return ENOENT;
    if (above.value().kind != PATH_MISSING) return ENOTDIR;
  }
}

}  // namespace

Result<std::unique_ptr<FolderRoot>> folder_root_create(StrView folder) {
  std::unique_ptr<FolderRoot> root(new (std::nothrow) PlatformFolderRoot(folder));
  if (!root || root->root().view() != folder) return Status::failure(ENOMEM);
  Result<PathStatus> status = stat_path(root->root().view());
  if (!status.ok()) return status.status();
  if (status.value().kind == PATH_MISSING) return Status::failure(missing_folder_reason(folder));
  if (status.value().kind != PATH_DIRECTORY) return Status::failure();
  return root;
}

void folder_root_full_path(const FolderRoot& root, StrView relative, SmallString& out) {
  if (relative == "..") return;
  append_full_path(root, relative, out);
}

// A path that cannot be composed, or a missing root, fails without a reason of the system's.
Result<PathStatus> folder_root_stat(FolderRoot* root, StrView relative) {
  if (root == nullptr) return Status::failure();
  SmallString full;
  if (!append_full_path(*root, relative, full)) return Status::failure();
  return root->stat(full.view());
}

Status folder_root_list(FolderRoot* root, StrView relative, DirEntryMap& entries) {
  if (root == nullptr) return Status::failure();
  SmallString full;
  if (!append_full_path(*root, relative, full)) return Status::failure();
  return root->list(full.view(), entries);
}

Status folder_root_ensure_directory(FolderRoot* root, StrView relative) {
  if (root == nullptr) return Status::failure();
  SmallString full;
  if (!append_full_path(*root, relative, full)) return Status::failure();
  Result<PathStatus> status = root->stat(full.view());
  if (!status.ok()) return status.status();
  switch (status.value().kind) {
    case PATH_DIRECTORY:
      return Status();
    case PATH_MISSING:
      return root->make_directory(full.view());
    default:
      return Status::failure(ENOTDIR);  // a file where a folder should be
  }
}

Status folder_root_make_directories(FolderRoot* root, StrView relative) {
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
        return Status::failure();
      }
      Status made = folder_root_ensure_directory(root, accumulated.view());
      if (!made.ok()) return made;
    }
    start = end + 1;
  }
  return Status();
}

Result<std::unique_ptr<ByteStream>> folder_root_open(FolderRoot* root, StrView relative,
                                                     uint32_t flags) {
  if (root == nullptr) return Status::failure();
  SmallString full;
  if (!append_full_path(*root, relative, full)) return Status::failure();
  return root->open(full.view(), flags);
}

Status folder_root_remove(FolderRoot* root, StrView relative) {
  if (root == nullptr) return Status::failure();
  SmallString full;
  if (!append_full_path(*root, relative, full)) return Status::failure();
  return root->remove(full.view());
}

Result<std::unique_ptr<ByteStream>> folder_root_create_new(FolderRoot* root, StrView relative,
                                                           uint32_t permissions) {
  if (root == nullptr) return Status::failure();
  SmallString full;
  if (!append_full_path(*root, relative, full)) return Status::failure();
  return root->create_new(full.view(), permissions);
}

Status folder_root_rename(FolderRoot* root, StrView from, StrView to, bool replace) {
  if (root == nullptr) return Status::failure();
  SmallString full_from, full_to;
  if (!append_full_path(*root, from, full_from) || !append_full_path(*root, to, full_to)) {
    return Status::failure();
  }
  return root->rename(full_from.view(), full_to.view(), replace);
}

Status folder_root_sync(FolderRoot* root, const std::vector<SmallString>& relative_paths) {
  if (root == nullptr) return Status::failure();
  std::vector<SmallString> full_paths(relative_paths.size());
  for (size_t i = 0; i < relative_paths.size(); ++i) {
    if (!append_full_path(*root, relative_paths[i].view(), full_paths[i])) {
      return Status::failure();
    }
  }
  return root->sync(full_paths);
}

Result<PathStatus> folder_root_identify(FolderRoot* root, StrView relative) {
  if (root == nullptr) return Status::failure(EINVAL);
  SmallString full;
  if (!append_full_path(*root, relative, full)) return Status::failure(ENOMEM);
  return root->identify(full.view());
}

}  // namespace velmarch
