#include "testing/memory_folder_root.h"

#include <algorithm>
#include <cerrno>

#include "testing/memory_stream.h"
#include "fs/staged_file.h"

namespace velmarch {

namespace {

std::string squeeze_separators(StrView path) {
  std::string out;
  for (char c : path) {
    if (c == '/' && !out.empty() && out.back() == '/') continue;
    out += c;
  }
  return out;
}

std::string without_trailing_separator(std::string path) {
  while (!path.empty() && path.back() == '/') path.pop_back();
  return path;
}

// The path a fault is named by: a trace's final path for the temporary file it is written
// under.
std::string fault_path(const std::string& path) {
  SmallString final_path = final_path_of(path);
  return final_path.empty() ? path : std::string(final_path.view());
}

}  // namespace

// A stream over a file of the tree. Every write lands in the tree at once, so a file that is
// removed while its stream is still held stays removed. After close, as after fclose, the
// stream fails whether or not the close succeeded.
class MemoryFolderRoot::File final : public ByteStream {
 public:
  File(MemoryFolderRoot& owner, std::string path, std::string content, uint32_t flags,
       bool fail_close, PathStatus identity)
      : owner_(owner),
        path_(std::move(path)),
        stream_(std::move(content)),
        flags_(flags),
        fail_close_(fail_close),
        identity_(identity) {}

  // Like a file stream, a direction that was not opened is an absent operation.
  IoResult read(void* d, uint64_t n) override {
    if ((flags_ & OPEN_READ) == 0) return Status::absent();
    if (closed_) return Status::failure(EBADF);
    return stream_.read(d, n);
  }
  IoResult write(const void* s, uint64_t n) override {
    if ((flags_ & OPEN_WRITE) == 0) return Status::absent();
    if (closed_) return Status::failure(EBADF);
    IoResult written = stream_.write(s, n);
    std::lock_guard<std::recursive_mutex> hold(*owner_.lock_);
    if (owner_.files_.count(path_)) owner_.write_content(path_, stream_.content());
    return written;
  }
  IoResult tell() override {
    if (closed_) return Status::failure(EBADF);
    return stream_.tell();
  }
  IoResult seek(int64_t o, int origin) override {
    if (closed_) return Status::failure(EBADF);
    return stream_.seek(o, origin);
  }
  Status close() override {
    if (closed_) return Status();
    closed_ = true;
    std::lock_guard<std::recursive_mutex> hold(*owner_.lock_);
    ++owner_.closes;
    return fail_close_ ? Status::failure() : Status();
  }
  Result<PathStatus> identity() override {
    if (closed_) return Status::failure(EBADF);
    return identity_;
  }

  MemoryStream& stream() { return stream_; }

 private:
  MemoryFolderRoot& owner_;
  std::string path_;
  MemoryStream stream_;
  uint32_t flags_;
  bool fail_close_;
  PathStatus identity_;
  bool closed_ = false;
};

MemoryFolderRoot::MemoryFolderRoot(StrView root)
    : FolderRoot(root), prefix_(without_trailing_separator(squeeze_separators(root))) {}

std::string MemoryFolderRoot::relative(StrView full_path) const {
  std::string path = squeeze_separators(full_path);
  // The root "/mem" holds "/mem/x" but not "/memory/x".
  if (path.compare(0, prefix_.size(), prefix_) == 0 &&
      (path.size() == prefix_.size() || path[prefix_.size()] == '/' || prefix_.empty())) {
    path.erase(0, prefix_.size());
  }
  while (!path.empty() && path.front() == '/') path.erase(0, 1);
  return without_trailing_separator(path);
}

void MemoryFolderRoot::add_directory(const std::string& path) {
  std::string clean = without_trailing_separator(squeeze_separators(path));
  for (size_t slash = clean.find('/'); slash != std::string::npos;
       slash = clean.find('/', slash + 1)) {
    directories_.insert(clean.substr(0, slash));
  }
  if (!clean.empty()) directories_.insert(clean);
}

void MemoryFolderRoot::add_file(const std::string& path, const std::string& content,
                                uint32_t permissions) {
  std::string clean = squeeze_separators(path);
  size_t slash = clean.rfind('/');
  if (slash != std::string::npos) add_directory(clean.substr(0, slash));
  files_[clean] = Node{content, next_inode_++, 1, permissions};
}

void MemoryFolderRoot::make_link(const std::string& path) { links_.insert(path); }

void MemoryFolderRoot::append(const std::string& path, const std::string& content) {
  write_content(path, files_[path].content + content);
}

void MemoryFolderRoot::write_content(const std::string& path, const std::string& content) {
  Node& node = files_[path];
  node.content = content;
  ++node.version;
}

bool MemoryFolderRoot::is_directory(const std::string& path) const {
  return path.empty() || directories_.count(path) != 0;
}

bool MemoryFolderRoot::parent_exists(const std::string& path) const {
  size_t slash = path.rfind('/');
  return is_directory(slash == std::string::npos ? std::string() : path.substr(0, slash));
}

bool MemoryFolderRoot::exists(const std::string& path) const {
  return is_directory(path) || files_.count(path) != 0 || links_.count(path) != 0;
}

bool MemoryFolderRoot::has_file(const std::string& path) const { return files_.count(path) != 0; }

std::string MemoryFolderRoot::file(const std::string& path) const {
  auto found = files_.find(path);
  return found != files_.end() ? found->second.content : std::string();
}

uint32_t MemoryFolderRoot::permissions(const std::string& path) const {
  auto found = files_.find(path);
  return found != files_.end() ? found->second.permissions : 0;
}

std::vector<std::string> MemoryFolderRoot::files() const {
  std::vector<std::string> paths;
  for (const auto& [path, node] : files_) paths.push_back(path);
  return paths;
}

Result<PathStatus> MemoryFolderRoot::stat(StrView full_path) {
  std::lock_guard<std::recursive_mutex> hold(*lock_);
  std::string path = relative(full_path);
  if (fail_stat.count(path)) return Status::failure();
  PathStatus status;
  status.is_link = links_.count(path) != 0;
  if (is_directory(path)) {
    status.kind = PATH_DIRECTORY;
  } else if (auto found = files_.find(path); found != files_.end()) {
    status.kind = PATH_FILE;
    status.size = static_cast<int64_t>(found->second.content.size());
  } else {
    status.kind = PATH_MISSING;
  }
  return status;
}

Status MemoryFolderRoot::list(StrView full_path, DirEntryMap& entries) {
  std::lock_guard<std::recursive_mutex> hold(*lock_);
  std::string folder = relative(full_path);
  if (fail_list.count(folder) || !is_directory(folder)) return Status::failure();
  std::string lead = folder.empty() ? "" : folder + "/";
  auto take = [&](const std::string& path, PathStatus status) {
    if (path.size() <= lead.size() || path.compare(0, lead.size(), lead) != 0) return;
    std::string name = path.substr(lead.size());
    // Like the platform listing, an entry whose own status query fails is left out.
    if (name.find('/') != std::string::npos || fail_stat.count(path)) return;
    status.is_link = links_.count(path) != 0;
    entries.emplace(SmallString(name), status);
  };
  for (const auto& [path, node] : files_) {
    take(path, PathStatus{PATH_FILE, static_cast<int64_t>(node.content.size())});
  }
  for (const auto& path : directories_) take(path, PathStatus{PATH_DIRECTORY, 0});
  return Status();
}

Status MemoryFolderRoot::make_directory(StrView full_path) {
  std::lock_guard<std::recursive_mutex> hold(*lock_);
  std::string path = relative(full_path);
  // As mkdir: one level at a time, never over an existing entry.
  if (fail_make_directory.count(path) || is_directory(path) || files_.count(path) ||
      !parent_exists(path)) {
    return Status::failure();
  }
  directories_made.push_back(path);
  add_directory(path);
  return Status();
}

Status MemoryFolderRoot::remove(StrView full_path) {
  std::lock_guard<std::recursive_mutex> hold(*lock_);
  std::string path = relative(full_path);
  if (fail_remove.count(fault_path(path)) || !files_.count(path)) return Status::failure();
  files_.erase(path);
  links_.erase(path);
  files_removed.push_back(path);
  calls.push_back("remove " + path);
  return Status();
}

Result<std::unique_ptr<ByteStream>> MemoryFolderRoot::open(StrView full_path, uint32_t flags) {
  std::lock_guard<std::recursive_mutex> hold(*lock_);
  std::string path = relative(full_path);
  if ((flags & (OPEN_READ | OPEN_WRITE)) == 0 || fail_open.count(path) || is_directory(path)) {
    return Status::failure();
  }
  bool reading = (flags & OPEN_READ) != 0;
  // Reading, alone or with writing, needs the file; writing alone needs its folder.
  if (reading ? !files_.count(path) : !parent_exists(path)) return Status::failure();
  if (!reading) files_[path] = Node{std::string(), next_inode_++, 1, 0};
  const Node& node = files_[path];
  PathStatus identity;
  identity.kind = PATH_FILE;
  identity.device = 1;
  identity.inode = node.inode;
  identity.size = static_cast<int64_t>(node.content.size());
  identity.modified_ns = node.version;
  identity.permissions = node.permissions;
  // Opened through a link: never taken for the regular file a deletion may remove.
  identity.is_link = links_.count(path) != 0;
  files_opened.push_back(path);
  auto file = std::make_unique<File>(*this, path, reading ? node.content : std::string(), flags,
                                     fail_close.count(path) != 0, identity);
  if (auto found = fail_reads_from.find(path); found != fail_reads_from.end()) {
    file->stream().fail_reads_from = found->second;
  }
  if (auto found = write_budget.find(path); found != write_budget.end()) {
    file->stream().write_budget = found->second;
  }
  if (reading && on_open_for_reading) on_open_for_reading(path);
  return std::unique_ptr<ByteStream>(std::move(file));
}

Result<std::unique_ptr<ByteStream>> MemoryFolderRoot::create_new(StrView full_path,
                                                                 uint32_t permissions) {
  std::lock_guard<std::recursive_mutex> hold(*lock_);
  std::string path = relative(full_path);
  std::string fault = fault_path(path);
  if (exists(path)) return Status::failure(EEXIST);
  if (fail_open.count(fault) || !parent_exists(path)) return Status::failure();
  files_[path] = Node{std::string(), next_inode_++, 1, permissions};
  files_opened.push_back(path);
  calls.push_back("create " + path);
  auto file = std::make_unique<File>(*this, path, std::string(), OPEN_WRITE,
                                     fail_close.count(fault) != 0, PathStatus{});
  if (auto found = write_budget.find(fault); found != write_budget.end()) {
    file->stream().write_budget = found->second;
  }
  return std::unique_ptr<ByteStream>(std::move(file));
}

Status MemoryFolderRoot::rename(StrView from, StrView to, bool replace) {
  std::lock_guard<std::recursive_mutex> hold(*lock_);
  std::string source = relative(from);
  std::string target = relative(to);
  if (fail_rename.count(target) || !files_.count(source) || is_directory(target)) {
    return Status::failure();
  }
  if (!replace && exists(target)) return Status::failure(EEXIST);
  files_[target] = files_[source];
  files_.erase(source);
  links_.erase(target);
  calls.push_back("rename " + source + " -> " + target);
  return Status();
}

Status MemoryFolderRoot::sync(const std::vector<SmallString>& full_paths) {
  std::lock_guard<std::recursive_mutex> hold(*lock_);
  std::string call = "sync";
  for (const SmallString& path : full_paths) call += " " + relative(path.view());
  calls.push_back(call);
  return fail_sync ? Status::failure() : Status();
}

Result<PathStatus> MemoryFolderRoot::identify(StrView full_path) {
  std::lock_guard<std::recursive_mutex> hold(*lock_);
  std::string path = relative(full_path);
  if (fail_stat.count(path)) return Status::failure(EIO);
  PathStatus identity;
  if (is_directory(path)) {
    identity.kind = PATH_DIRECTORY;
    return identity;
  }
  bool link = links_.count(path) != 0;
  auto found = files_.find(path);
  if (found == files_.end() && !link) return Status::failure(ENOENT);
  // A link is the entry itself, never the file it leads to.
  identity.kind = link ? PATH_OTHER : PATH_FILE;
  identity.is_link = link;
  if (found == files_.end()) return identity;
  identity.device = 1;
  identity.inode = found->second.inode;
  identity.size = static_cast<int64_t>(found->second.content.size());
  identity.modified_ns = found->second.version;
  identity.permissions = found->second.permissions;
  return identity;
}

}  // namespace velmarch
