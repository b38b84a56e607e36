#include "fs/path_value.h"

#include <cstring>
#include <utility>

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

// The length of the path's root: "/" or "C:/"; 0 for a relative path.
size_t root_length(StrView path) {
  if (!path.empty() && path[0] == '/') return 1;
  return path.size() >= 3 && is_ascii_letter(path[0]) && path[1] == ':' && path[2] == '/' ? 3 : 0;
}

// Where the path's last component starts and ends, the separators after it left out and never
// reaching into the root: "/data/logs/" gives "logs", "/" an empty one after the root.
std::pair<size_t, size_t> last_component(StrView path) {
  size_t end = path.size();
  while (end > root_length(path) && path[end - 1] == '/') --end;
  size_t slash = path.substr(0, end).rfind('/');
  return {slash == StrView::npos ? 0 : slash + 1, end};
}

// Takes the components "." and ".." off the end of the path and answers how many folders it
// goes up: "logs/." becomes "logs/" going up none, "logs/a/.." becomes "logs/a/" going up one.
// A path without them is left as it was.
int take_off_trailing_dots(PathValue& path) {
  int ups = 0;
  for (;;) {
    auto [start, end] = last_component(path.view());
    StrView last = path.view().substr(start, end - start);
    if (last != "." && last != "..") return ups;
    if (last == "..") ++ups;
    path.set_length(static_cast<int64_t>(start));
  }
}

// Drops the last `ups` components of an absolute path, never its root. Behind a ".." that
// stays as written, the rest go up as written too.
void go_up(PathValue& path, int ups) {
  for (; ups > 0; --ups) {
    auto [start, end] = last_component(path.view());
    if (start == 0 || start == end) return;  // nothing but the root is left
    if (path.view().substr(start, end - start) == "..") {
      path.set_length(static_cast<int64_t>(end));
      for (; ups > 0; --ups) path.append("/..", 3);
      path.append("/", 1);
      return;
    }
    path.set_length(static_cast<int64_t>(start));
  }
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
  // "." and ".." at the end name the folder they lead to, as the shell's cd would take them:
  // "velmarch ." inside a log folder converts that folder. The path changes only once the
  // folder is known, never to the folder below it.
  PathValue named = path;
  int ups = take_off_trailing_dots(named);

  if (!is_absolute(named.view())) {
    PathValue cwd;
    if (!current_directory(cwd) || stat_path(cwd.view()).value().kind != PATH_DIRECTORY) return;
    if (named.empty()) {
      named = std::move(cwd);
    } else {
      FolderRoot cwd_root(cwd.view());
      PathValue absolute;
      folder_root_full_path(cwd_root, named.view(), absolute);
      if (absolute.empty()) return;
      named = std::move(absolute);
    }
  }
  go_up(named, ups);
  path = std::move(named);

  Result<PathStatus> found = stat_path(path.view());
  if (!found.ok()) {
    DIAG_FAILURE(LOG_ERROR, found.error(), "Could not stat path %s", path.c_str());
    return;
  }
  const PathStatus& status = found.value();
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
