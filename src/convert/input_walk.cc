#include <vector>

#include "base/exit_status.h"
#include "convert/conversion_job.h"
#include "diag/log.h"
#include "fs/path_value.h"

namespace velmarch {

namespace {

struct FolderIdentity {
  uint64_t device;
  uint64_t inode;
};

// "P" then "/" unless P is empty or ends in one, then the name.
SmallString child_path(StrView parent, StrView name) {
  SmallString child(parent);
  if (!parent.empty() && parent.back() != '/') child.append("/", 1);
  child.append(name);
  return child;
}

bool is_txt(StrView extension) {
  if (extension.size() != 3) return false;
  // ASCII folding answers as Unicode's simple case mapping would: nothing else maps onto t or x.
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  return lower(extension[0]) == 't' && lower(extension[1]) == 'x' && lower(extension[2]) == 't';
}

// Q without its extension. A name without any "." keeps it whole: "txt" is its own extension,
// and stripping it would name the output after the folder above.
StrView without_extension(StrView path) {
  StrView name = path_file_name(path);
  if (name.find('.') == StrView::npos) return path;
  size_t cut = path_extension(path).size() + 1;
  return path.substr(0, path.size() - std::min(cut, path.size()));
}

int convert_file_entry(ConversionJob& job, StrView input, StrView output, bool through_link) {
  if (!is_txt(path_extension(input))) return EXIT_OK;
  StrView target = without_extension(output);
  if (job.create_folders) {
    // A failure shows later, when the writer cannot create its file.
    folder_root_make_directories(job.output_root, path_directory_part(target));
  }
  int result = job_convert_file(job, input, target, through_link);
  if (job.interrupted) return result;
  if (result != 0) DIAG(LOG_ERROR, "Error during conversion of %.*s", STR_VIEW_ARG(input));
  return result | job_commit_when_due(job);
}

// through_link: a folder on the way from the common root is a symbolic link.
int convert_entry(ConversionJob& job, StrView input, StrView output, bool through_link,
                  std::vector<FolderIdentity>& descent) {
  if (job_interrupted(job)) return EXIT_OK;
  PathStatus status;
  if (!folder_root_stat(job.input_root, input, &status)) {
    DIAG(LOG_FATAL, "Error during stat of %.*s, exiting", STR_VIEW_ARG(input));
    return EXIT_INTERNAL;
  }
  through_link = through_link || status.is_link;
  switch (status.kind) {
    case PATH_FILE:
      return convert_file_entry(job, input, output, through_link);
    case PATH_MISSING:
      DIAG(LOG_WARN, "Could not find input file/folder %.*s", STR_VIEW_ARG(input));
      return EXIT_INPUT_MISSING;
    case PATH_DIRECTORY:
      break;
    default:
      return EXIT_INTERNAL;
  }

  // A link back to a folder of the current descent would mirror the tree without end.
  bool known = status.device != 0 || status.inode != 0;
  if (known) {
    for (const FolderIdentity& folder : descent) {
      if (folder.device == status.device && folder.inode == status.inode) {
        DIAG(LOG_WARN, "Skipping %.*s: it links back to a folder being converted",
             STR_VIEW_ARG(input));
        return EXIT_OK;
      }
    }
    descent.push_back({status.device, status.inode});
  }
  DirEntryMap entries;
  int result = EXIT_OK;
  // Passing over a folder that cannot be read would report its files as converted.
  if (!folder_root_list(job.input_root, input, entries)) {
    DIAG(LOG_ERROR, "Could not list folder %.*s", STR_VIEW_ARG(input));
    result = EXIT_INTERNAL;
  }
  for (const auto& [name, entry] : entries) {
    SmallString child_input = child_path(input, name.view());
    SmallString child_output = child_path(output, name.view());
    result |= convert_entry(job, child_input.view(), child_output.view(), through_link, descent);
    if (job.interrupted) break;
  }
  if (known) descent.pop_back();
  return result;
}

}  // namespace

int job_convert_entry(ConversionJob& job, StrView input_path, StrView output_path) {
  std::vector<FolderIdentity> descent;
  return convert_entry(job, input_path, output_path, false, descent);
}

int job_run(ConversionJob& job, const StringList& inputs) {
  int status = EXIT_OK;
  for (const SmallString& input : inputs) {
    if (job_interrupted(job)) break;
    SmallString output = input;
    if (!job.flags->no_append_root) {
      PathStatus kind;
      if (!folder_root_stat(job.input_root, input.view(), &kind)) {
        DIAG(LOG_FATAL, "Could not query %.*s for information", STR_VIEW_ARG(input.view()));
        return EXIT_INTERNAL;
      }
      if (kind.kind == PATH_DIRECTORY) {
        size_t slash = output.view().find('/');
        if (slash == StrView::npos) {
          output.append(StrView("_out"));
        } else {
          small_string_insert(output, static_cast<int64_t>(slash), "_out", 4);
        }
      }
    }
    status |= job_convert_entry(job, input.view(), output.view());
    // Each input's deletions are done before the next input is looked at: an input given twice
    // is then met the second time as a run that deleted every file at once would meet it.
    if (!job.interrupted) status |= job_commit(job);
  }
  if (job.interrupted) {
    if (!job.interruption_reported) DIAG(LOG_FATAL, "Interrupted");
    job.interruption_reported = true;
    job.sink->discard();
    job.pending.clear();
  }
  return status;
}

}  // namespace velmarch
