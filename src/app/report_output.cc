#include "app/report_output.h"

#include <cerrno>

#include "diag/log.h"
#include "fs/path_value.h"

namespace velmarch {

bool ReportOutput::open(StrView path, uint64_t seed) {
  path_ = std::string(path);
  StrView folder = path_directory_part(path);
  Result<std::unique_ptr<FolderRoot>> root = folder_root_create(folder);
  int error = root.error();
  // A folder would only refuse the report's name at the end, after the whole run.
  Result<PathStatus> there = stat_path(path);
  if (there.ok() && there.value().kind == PATH_DIRECTORY) {
    root = Status::failure(EISDIR);
    error = EISDIR;
  }
  Result<std::unique_ptr<StagedFile>> file = Status::failure();
  if (root.ok()) {
    root_ = std::move(root).value();
    // No permissions of its own: the umask decides, as for any file the user makes.
    file = StagedFile::create(root_.get(), path_file_name(path), 0, seed);
    error = file.error();
  }
  if (!file.ok()) {
    DIAG_FAILURE(LOG_FATAL, error, "Could not create report %.*s", STR_VIEW_ARG(path));
    return false;
  }
  file_ = std::move(file).value();
  report_ = std::make_unique<RunReport>(file_->stream());
  return true;
}

bool ReportOutput::publish(const ReportEnd& end) {
  bool written = report_->finish(end);
  int error = report_->write_error();
  Status closed = file_->close();
  if (written && !closed.ok()) error = closed.error();
  Status done = written && closed.ok() ? folder_root_sync(root_.get(), {file_->temporary_path()})
                                       : Status::failure(error);
  if (done.ok()) done = file_->publish(true);
  if (done.ok()) done = folder_root_sync(root_.get(), {file_->final_path()});
  if (done.ok()) return true;
  DIAG_FAILURE(LOG_ERROR, done.error(), "Could not write report %s", path_.c_str());
  (void)file_->remove();
  return false;
}

}  // namespace velmarch
