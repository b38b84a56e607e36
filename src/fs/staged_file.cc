#include "fs/staged_file.h"

#include <algorithm>
#include <cerrno>
#include <new>

#include "fs/path_value.h"

namespace velmarch {

namespace {

constexpr StrView TEMPORARY_SUFFIX = ".part";
constexpr int RANDOM_LETTERS = 6;
// Room a temporary name adds to the final one: ".", ".", the letters and the suffix.
constexpr size_t TEMPORARY_EXTRA = 2 + RANDOM_LETTERS + TEMPORARY_SUFFIX.size();
// File names end at 255 bytes on the usual file systems.
constexpr size_t NAME_MAX_BYTES = 255;
constexpr int CREATE_ATTEMPTS = 100;

uint64_t next_random(uint64_t& state) {
  // splitmix64: well spread from any seed, which is all a file name needs.
  uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

}  // namespace

SmallString temporary_path_for(StrView final_path, uint64_t random) {
  StrView folder = path_directory_part(final_path);
  StrView name = path_file_name(final_path);
  name = name.substr(0, std::min(name.size(), NAME_MAX_BYTES - TEMPORARY_EXTRA));
  static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  char suffix[RANDOM_LETTERS];
  for (char& c : suffix) {
    c = letters[random % 36];
    random /= 36;
  }
  SmallString path(folder);
  path.append(".", 1);
  path.append(name);
  path.append(".", 1);
  path.append(suffix, RANDOM_LETTERS);
  path.append(TEMPORARY_SUFFIX);
  return path;
}

SmallString final_path_of(StrView temporary_path) {
  StrView folder = path_directory_part(temporary_path);
  StrView name = path_file_name(temporary_path);
  if (name.size() <= TEMPORARY_EXTRA || name[0] != '.' ||
      name.substr(name.size() - TEMPORARY_SUFFIX.size()) != TEMPORARY_SUFFIX ||
      name[name.size() - TEMPORARY_SUFFIX.size() - RANDOM_LETTERS - 1] != '.') {
    return SmallString();
  }
  SmallString path(folder);
  path.append(name.substr(1, name.size() - TEMPORARY_EXTRA));
  return path;
}

Result<std::unique_ptr<StagedFile>> StagedFile::create(FolderRoot* root, StrView final_path,
                                                       uint32_t permissions, uint64_t random) {
  std::unique_ptr<StagedFile> file(new (std::nothrow) StagedFile(root, final_path));
  if (!file) return Status::failure(ENOMEM);
  Status created;
  for (int attempt = 0; attempt < CREATE_ATTEMPTS; ++attempt) {
    file->temporary_path_ = temporary_path_for(final_path, next_random(random));
    Result<std::unique_ptr<ByteStream>> stream =
        folder_root_create_new(root, file->temporary_path_.view(), permissions);
    created = stream.status();
    file->stream_ = std::move(stream).value();
    if (created.error() != EEXIST) break;
  }
  if (!created.ok()) return created;
  file->on_disk_ = true;
  return file;
}

StagedFile::~StagedFile() {
  // The stream goes first: Windows removes no open file. Both may fail quietly here; whoever
  // needs to know removes it by hand first.
  if (stream_) (void)byte_stream_close(stream_);
  stream_.reset();
  if (on_disk_) (void)folder_root_remove(root_, temporary_path_.view());
}

Status StagedFile::close() {
  if (!stream_) return Status();
  Status closed = byte_stream_close(stream_);
  stream_.reset();  // a stream that failed to close is gone all the same, as fclose leaves it
  return closed;
}

Status StagedFile::publish(bool replace) {
  Status renamed = folder_root_rename(root_, temporary_path_.view(), final_path_.view(), replace);
  if (renamed.ok()) on_disk_ = false;
  return renamed;
}

Status StagedFile::remove() {
  if (!on_disk_) return Status();
  on_disk_ = false;  // tried once: what could not go stays, and is not tried again
  return folder_root_remove(root_, temporary_path_.view());
}

}  // namespace velmarch
