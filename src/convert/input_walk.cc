#include "convert/input_walk.h"

#include <algorithm>
#include <vector>

#include "diag/log.h"
#include "fs/path_value.h"

namespace velmarch {

namespace {

// The parent, then "/" unless the parent is empty or ends in one, then the name.
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

// The path without its extension. A name without any "." keeps it whole: "txt" is its own
// extension, and stripping it would name the output after the folder above.
StrView without_extension(StrView path) {
  StrView name = path_file_name(path);
  if (name.find('.') == StrView::npos) return path;
  size_t cut = path_extension(path).size() + 1;
  return path.substr(0, path.size() - std::min(cut, path.size()));
}

bool same_folder(const PathStatus& a, const PathStatus& b) {
  return a.device == b.device && a.inode == b.inode;
}

class Walk {
 public:
  Walk(FolderRoot* root, WalkVisitor& visitor) : root_(root), visitor_(visitor) {}

  // listed: the entry's status as its folder's listing gave it, or null for an input of the
  // command line.
  ExitStatus walk_entry(StrView input, StrView output, bool through_link,
                        const PathStatus* listed) {
    if (visitor_.stop_requested()) return EXIT_OK;
    PathStatus status;
    if (listed != nullptr) {
      status = *listed;  // queried a moment ago, entry by entry
    } else {
      Result<PathStatus> found = folder_root_stat(root_, input);
      if (!found.ok()) {
        DIAG_FAILURE(LOG_FATAL, found.error(), "Error during stat of %.*s, exiting",
                     STR_VIEW_ARG(input));
        return EXIT_INTERNAL;
      }
      status = found.value();
    }
    through_link = through_link || status.is_link;
    switch (status.kind) {
      case PATH_FILE:
        walk_file(input, output, through_link, status, listed == nullptr);
        return EXIT_OK;
      case PATH_MISSING:
        DIAG(LOG_WARN, "Could not find input file/folder %.*s", STR_VIEW_ARG(input));
        visitor_.on_missing(input);
        return EXIT_INPUT_MISSING;
      case PATH_DIRECTORY:
        return walk_folder(input, output, through_link, status);
      default:
        DIAG(LOG_FATAL, "Could not convert %.*s: neither a file nor a folder",
             STR_VIEW_ARG(input));
        return EXIT_INTERNAL;
    }
  }

 private:
  // named: the file was named on the command line, so passing it over is news to the user.
  void walk_file(StrView input, StrView output, bool through_link, const PathStatus& status,
                 bool named) {
    if (!is_txt(path_extension(input))) {
      DIAG(named ? LOG_WARN : LOG_DEBUG, "Passed over %.*s: not a txt file", STR_VIEW_ARG(input));
      visitor_.on_passed_over(input, status);
      return;
    }
    visitor_.on_file(WalkedFile{input, without_extension(output), through_link, status});
  }

  ExitStatus walk_folder(StrView input, StrView output, bool through_link,
                         const PathStatus& status) {
    // A link back to a folder of the current descent would mirror the tree without end.
    bool known = status.device != 0 || status.inode != 0;
    if (known) {
      for (const PathStatus& folder : descent_) {
        if (same_folder(folder, status)) {
          DIAG(LOG_WARN, "Skipping %.*s: it links back to a folder being converted",
               STR_VIEW_ARG(input));
          return EXIT_OK;
        }
      }
      descent_.push_back(status);
    }
    DirEntryMap entries;
    ExitStatus result = EXIT_OK;
    // Passing over a folder that cannot be read would report its files as converted.
    Status listing = folder_root_list(root_, input, entries);
    if (!listing.ok()) {
      DIAG_FAILURE(LOG_ERROR, listing.error(), "Could not list folder %.*s", STR_VIEW_ARG(input));
      result = EXIT_INTERNAL;
    }
    for (const auto& [name, entry] : entries) {
      SmallString child_input = child_path(input, name.view());
      SmallString child_output = child_path(output, name.view());
      result |= walk_entry(child_input.view(), child_output.view(), through_link, &entry);
      if (visitor_.stop_requested()) break;
    }
    if (known) descent_.pop_back();
    return result;
  }

  FolderRoot* root_;
  WalkVisitor& visitor_;
  std::vector<PathStatus> descent_;  // the folders the walk is inside, outermost first
};

}  // namespace

ExitStatus walk_input(FolderRoot* root, StrView input, StrView output, WalkVisitor& visitor) {
  return Walk(root, visitor).walk_entry(input, output, false, nullptr);
}

std::optional<SmallString> output_of_input(FolderRoot* root, StrView input, bool keep_name) {
  SmallString output(input);
  if (keep_name) return output;
  Result<PathStatus> status = folder_root_stat(root, input);
  if (!status.ok()) {
    DIAG_FAILURE(LOG_FATAL, status.error(), "Could not query %.*s for information",
                 STR_VIEW_ARG(input));
    return std::nullopt;
  }
  if (status.value().kind == PATH_DIRECTORY) {
    size_t slash = output.view().find('/');
    if (slash == StrView::npos) {
      output.append(StrView("_out"));
    } else {
      small_string_insert(output, static_cast<int64_t>(slash), "_out", 4);
    }
  }
  return output;
}

}  // namespace velmarch
