#include "convert/file_task.h"

#include <cassert>

#include "textlog/text_log_reader.h"

namespace velmarch {

namespace {

bool may_move(FileState from, FileState to) {
  switch (to) {
    case FileState::opened:
    case FileState::unreadable:
      return from == FileState::found;
    case FileState::rejected:
    case FileState::repeat:
    case FileState::accepted:
      return from == FileState::opened;
    case FileState::abandoned:
      return from == FileState::opened || from == FileState::unreadable;
    case FileState::converted:
    case FileState::interrupted:
      return from == FileState::accepted;
    case FileState::failed:
      return from == FileState::accepted || from == FileState::converted;
    case FileState::found:
      break;
  }
  return false;
}

}  // namespace

FileTask::FileTask(StrView input, StrView output, bool through_link)
    : reached_through_link(through_link) {
  info.input_path = SmallString(input);
  info.output_path = SmallString(output);
}

FileTask::~FileTask() = default;

void FileTask::move_to(FileState next) {
  assert(may_move(state, next));
  (void)may_move;
  state = next;
}

}  // namespace velmarch
