#pragma once

#include <optional>

#include "base/exit_status.h"
#include "base/small_string.h"
#include "fs/folder_root.h"

namespace velmarch {

/// A text log the walk found, and the path of its output.
struct WalkedFile {
  StrView input;   // relative to the input root
  StrView output;  // relative to the output root, without the input's extension
  bool through_link = false;  // the file, or a folder on the way to it, is a symbolic link
  const PathStatus& status;   // as the walk found it
};

/// Who is told what the walk finds, in walk order.
class WalkVisitor {
 public:
  virtual ~WalkVisitor() = default;
  /// Whether the walk is to stop; it then unwinds without a word.
  virtual bool stop_requested() = 0;
  /// A "txt" file and where its output goes.
  virtual void on_file(const WalkedFile& file) = 0;
  /// A file that is not a "txt" file, which the walk passed over.
  virtual void on_passed_over(StrView /*input*/, const PathStatus& /*status*/) {}
  /// An input of the command line that is not there.
  virtual void on_missing(StrView /*input*/) {}
};

/// Walks one input of the command line, relative to the root: a file, or a folder depth-first
/// in ascending byte order of names, with its output path mirrored below `output`. Tells the
/// visitor of every "txt" file and says what it passes over. Answers the status of what it
/// found wrong itself: a missing input, a folder it could not list.
ExitStatus walk_input(FolderRoot* root, StrView input, StrView output, WalkVisitor& visitor);

/// Where the outputs of a command-line input go: a folder's into a folder beside it named with
/// "_out" after its first component, unless keep_name; a file's beside it. Null (said) when
/// the input's status could not be queried.
std::optional<SmallString> output_of_input(FolderRoot* root, StrView input, bool keep_name);

}  // namespace velmarch
