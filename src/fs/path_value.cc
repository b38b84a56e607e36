#include "fs/path_value.h"

#include <cstring>

#include "diag/log.h"
#include "fs/folder_root.h"
#include "platform/platform.h"

namespace velmarch {

namespace {

constexpr int64_t CURRENT_DIRECTORY_ROOM = 2048;

bool is_ascii_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool append_bytes(SmallString& out, StrView bytes) {
  return bytes.empty() || out.append(bytes) != nullptr;
}

// string_replace into out; false (out left as it was) when memory runs out, so that a caller
// never goes on with a cut path.
bool replace_into(StrView text, StrView pattern, StrView replacement, int32_t budget,
                  SmallString& out) {
  SmallString result;
  // Any budget that is not positive replaces every occurrence there can be.
  int64_t left = budget > 0 ? budget : INT32_MAX;
  size_t position = 0;
  if (!pattern.empty()) {
    while (left > 0) {
      size_t found = text.find(pattern, position);
      if (found == StrView::npos) break;
      if (!append_bytes(result, text.substr(position, found - position)) ||
          !append_bytes(result, replacement)) {
        return false;
      }
      position = found + pattern.size();
      --left;
    }
  }
  if (!append_bytes(result, text.substr(position))) return false;
  out = std::move(result);
  return true;
}

bool replace_all(PathValue& path, StrView pattern, StrView replacement) {
  return replace_into(path.view(), pattern, replacement, 0, path);
}

// A drive-letter path by its bytes; a path from the top of the file system counts as well, so
// that "/data" is never put under the current directory.
bool is_absolute(StrView path) {
  if (!path.empty() && path[0] == '/') return true;
  return path.size() >= 3 && is_ascii_letter(path[0]) && path[1] == ':';
}

}  // namespace

SmallString string_replace(StrView text, StrView pattern, StrView replacement, int32_t budget) {
  SmallString result;
  replace_into(text, pattern, replacement, budget, result);
  return result;
}

bool current_directory(PathValue& out) {
  out.clear();
  if (out.reserve(CURRENT_DIRECTORY_ROOM) == nullptr) return false;
  // reserve leaves room for the terminator as well.
  if (!platform_current_directory(out.data(), CURRENT_DIRECTORY_ROOM + 1)) {
    out.clear();
    return false;
  }
  out.set_length(static_cast<int64_t>(std::strlen(out.data())));
  if (!replace_all(out, "\\", "/")) {
    out.clear();
    return false;
  }
  return true;
}

void path_normalize(PathValue& path) {
  // One "//" pass only: a run of three separators stays two.
  if (!replace_all(path, "\\", "/") || !replace_all(path, "//", "/")) return;
  if (path.size() == 2 && is_ascii_letter(path[0]) && path[1] == ':') path.append("/", 1);

  if (!is_absolute(path.view())) {
    PathValue cwd;
    PathStatus cwd_status;
    if (!current_directory(cwd) || !stat_path(cwd.view(), cwd_status) ||
        cwd_status.kind != PATH_DIRECTORY) {
      return;
    }
    FolderRoot cwd_root(cwd.view());
    PathValue absolute;
    folder_root_full_path(cwd_root, path.view(), absolute);
    // ".." is refused by the composition and leaves the empty path.
    if (absolute.empty() && path.view() != "..") return;
    path = std::move(absolute);
  }

  PathStatus status;
  if (!stat_path(path.view(), status)) {
    DIAG_FAILURE(LOG_ERROR, "Could not stat path %s", path.c_str());
    return;
  }
  bool trailing = !path.empty() && path[path.size() - 1] == '/';
  if (status.kind == PATH_DIRECTORY && !trailing) {
    path.append("/", 1);
  } else if (status.kind == PATH_FILE && trailing) {
    path.set_length(path.size() - 1);
  }
}

// Empty results all view one static text, never a null pointer.
static StrView non_null(StrView view) { return view.empty() ? StrView("") : view; }

StrView path_file_name(StrView path) {
  size_t slash = path.rfind('/');
  return non_null(slash == StrView::npos ? path : path.substr(slash + 1));
}

StrView path_extension(StrView path) {
  StrView name = path_file_name(path);
  size_t dot = name.rfind('.');
  return non_null(dot == StrView::npos ? name : name.substr(dot + 1));
}

StrView path_directory_part(StrView path) {
  size_t slash = path.rfind('/');
  return non_null(slash == StrView::npos ? StrView() : path.substr(0, slash + 1));
}

}  // namespace velmarch
