#pragma once

#include <cstdint>
#include <memory>

#include "base/small_string.h"
#include "fs/folder_root.h"
#include "stream/byte_stream.h"

namespace velmarch {

/// A file written under a hidden temporary name beside its final one and given that name only
/// once whole, the way an atomic save works: until then, and if it never is, the final name
/// holds what it held before. Created exclusively (never through a link) with the permission
/// bits given. Whatever was not published is removed when the object goes.
class StagedFile {
 public:
  /// Fails when no temporary file could be created. random seeds the temporary name, so that
  /// runs and threads writing into one folder pick different ones.
  static Result<std::unique_ptr<StagedFile>> create(FolderRoot* root, StrView final_path,
                                                    uint32_t permissions, uint64_t random);
  ~StagedFile();
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;

  /// Where the file's bytes go until close.
  ByteStream& stream() { return *stream_; }
  /// Closes the stream; fails when its data may not all be in the file.
  Status close();
  /// Gives the file its final name in one step. With replace, whatever is there (a link
  /// included) is replaced; without, anything there fails it with EEXIST and nothing changes.
  Status publish(bool replace);
  /// Removes the temporary file now. Whether or not that succeeds, it is not tried again.
  Status remove();

  const SmallString& final_path() const { return final_path_; }
  const SmallString& temporary_path() const { return temporary_path_; }

 private:
  StagedFile(FolderRoot* root, StrView final_path) : root_(root), final_path_(final_path) {}

  FolderRoot* root_;  // borrowed
  SmallString final_path_;
  SmallString temporary_path_;
  std::unique_ptr<ByteStream> stream_;
  bool on_disk_ = false;  // the temporary file exists and is ours
};

/// The hidden name a file is written under: ".<name>.<six letters or digits>.part" beside the
/// final path, a name no run converts or takes for an output. A name too long for that is cut.
SmallString temporary_path_for(StrView final_path, uint64_t random);
/// The final path a temporary name made by temporary_path_for stands for; empty otherwise.
SmallString final_path_of(StrView temporary_path);

}  // namespace velmarch
