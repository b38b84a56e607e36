#include "fs/input_set.h"

#include <algorithm>
#include <new>
#include <set>
#include <string>

#include "base/exit_status.h"
#include "diag/log.h"

namespace velmarch {

namespace {

// The index of the separator that ends the input's parent, or -1. One trailing "/" does not
// count. Index 0 counts only for a path that begins with "/", which stands for the top of the
// file system the way a drive does: /a.txt lies in "/", while "/" itself has no parent.
int64_t parent_separator(StrView input) {
  int64_t n = static_cast<int64_t>(input.size());
  int64_t index = n > 1 && input[n - 1] == '/' ? n - 2 : n - 1;
  int64_t lowest = n > 1 && input[0] == '/' ? 0 : 1;
  for (; index >= lowest; --index) {
    if (input[index] == '/') return index;
  }
  return -1;
}

bool fail(ExitStatus* status) {
  if (status != nullptr) *status = EXIT_NO_COMMON_ROOT;
  return false;
}

bool push(StringList& list, SmallString&& value) {
  try {
    list.push_back(std::move(value));
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

}  // namespace

int32_t normalize_path_option(int count, const char* const* values, StringList& destination) {
  int32_t code = 0;
  for (int i = 0; i < count; ++i) {
    StrView text = values[i] != nullptr ? StrView(values[i]) : StrView("");
    SmallString path;
    // A copy cut short by lack of memory would name another path: leave it out.
    if (path.append(text) == nullptr) {
      code = PATH_OPTION_NO_MEMORY;
      continue;
    }
    path_normalize(path);
    if (!push(destination, std::move(path))) code = PATH_OPTION_NO_MEMORY;
  }
  return code;
}

int64_t add_listed_inputs(StrView list, char separator, StringList& inputs, int32_t* code) {
  std::set<std::string> known;
  for (const SmallString& input : inputs) known.emplace(input.view());
  int64_t repeats = 0;
  while (!list.empty()) {
    size_t end = std::min(list.find(separator), list.size());
    StrView entry = list.substr(0, end);
    list.remove_prefix(std::min(end + 1, list.size()));
    if (separator == '\n' && !entry.empty() && entry.back() == '\r') entry.remove_suffix(1);
    if (entry.empty()) continue;
    SmallString path;
    if (path.append(entry) == nullptr) {
      *code = PATH_OPTION_NO_MEMORY;
      continue;
    }
    path_normalize(path);
    if (!known.emplace(path.view()).second) {
      ++repeats;
    } else if (!push(inputs, std::move(path))) {
      *code = PATH_OPTION_NO_MEMORY;
    }
  }
  return repeats;
}

bool find_common_root(InputSet& set, ExitStatus* status) {
  // Only whether the parents differ matters, so the first one stands for the set.
  StrView parent;
  bool have_parent = false;
  bool parents_differ = false;
  for (const SmallString& input : set.inputs) {
    int64_t separator = parent_separator(input.view());
    if (separator < 0) {
      DIAG(LOG_FATAL, "Could not find root for %.*s", STR_VIEW_ARG(input.view()));
      return fail(status);
    }
    StrView this_parent = input.view().substr(0, static_cast<size_t>(separator) + 1);
    if (!have_parent) {
      parent = this_parent;
      have_parent = true;
    } else if (this_parent != parent) {
      parents_differ = true;
    }
  }
  if (!have_parent) {
    return fail(status);
  }
  if (parents_differ) {
    DIAG(LOG_FATAL, "No common root detected for all inputs");
    return fail(status);
  }

  PathValue root;
  if (root.append(parent) == nullptr) {
    return fail(status);
  }
  StringList relative;
  for (const SmallString& input : set.inputs) {
    size_t cut = std::min(input.view().size(), root.view().size());
    SmallString rest;
    // An input that cannot be copied or pushed is dropped.
    if (rest.append(input.view().substr(cut)) != nullptr) push(relative, std::move(rest));
  }
  set.common_root = std::move(root);
  set.inputs = std::move(relative);
  return true;
}

}  // namespace velmarch
