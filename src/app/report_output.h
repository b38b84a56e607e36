#pragma once

#include <memory>
#include <string>

#include "convert/run_report.h"
#include "fs/folder_root.h"
#include "fs/staged_file.h"

namespace velmarch {

/// The file --report names: made under a hidden name before the run, so that a path that cannot
/// take it fails before anything is converted, and given its name only once whole and on disk.
class ReportOutput {
 public:
  /// False (said) when the file cannot be made.
  bool open(StrView path, uint64_t seed);
  RunReport* report() { return report_.get(); }
  /// Ends the report with the run's line, flushes it to disk and names it; false (said) when it
  /// could not, and the file is then removed.
  bool publish(const ReportEnd& end);

 private:
  std::string path_;  // as the command line gave it, normalised
  std::unique_ptr<FolderRoot> root_;
  std::unique_ptr<StagedFile> file_;
  std::unique_ptr<RunReport> report_;
};

}  // namespace velmarch
