#include "trc/trc_writer.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <new>

#include "diag/log.h"
#include "fs/path_value.h"
#include "platform/platform.h"
#include "trc/trc_format.h"

namespace velmarch {

namespace {

constexpr StrView TEMPORARY_SUFFIX = ".part";
constexpr int RANDOM_LETTERS = 6;
// Room a temporary name adds to the final one: ".", ".", the letters and the suffix.
constexpr size_t TEMPORARY_EXTRA = 2 + RANDOM_LETTERS + TEMPORARY_SUFFIX.size();
// File names end at 255 bytes on the usual file systems.
constexpr size_t NAME_MAX_BYTES = 255;
constexpr int CREATE_ATTEMPTS = 100;

uint64_t next_random(uint64_t& state) {
  // splitmix64: well spread from any seed, which is all a file name needs.
  uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

}  // namespace

SmallString temporary_trace_path(StrView final_path, uint64_t random) {
  StrView folder = path_directory_part(final_path);
  StrView name = path_file_name(final_path);
  name = name.substr(0, std::min(name.size(), NAME_MAX_BYTES - TEMPORARY_EXTRA));
  static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  char suffix[RANDOM_LETTERS];
  for (char& c : suffix) {
    c = letters[random % 36];
    random /= 36;
  }
  SmallString path(folder);
  path.append(".", 1);
  path.append(name);
  path.append(".", 1);
  path.append(suffix, RANDOM_LETTERS);
  path.append(TEMPORARY_SUFFIX);
  return path;
}

SmallString final_trace_path(StrView temporary_path) {
  StrView folder = path_directory_part(temporary_path);
  StrView name = path_file_name(temporary_path);
  if (name.size() <= TEMPORARY_EXTRA || name[0] != '.' ||
      name.substr(name.size() - TEMPORARY_SUFFIX.size()) != TEMPORARY_SUFFIX ||
      name[name.size() - TEMPORARY_SUFFIX.size() - RANDOM_LETTERS - 1] != '.') {
    return SmallString();
  }
  SmallString path(folder);
  path.append(name.substr(1, name.size() - TEMPORARY_EXTRA));
  return path;
}

std::unique_ptr<TrcWriter> trc_writer_create(FolderRoot* output_root, int32_t version) {
  std::unique_ptr<TrcWriter> writer(new (std::nothrow) TrcWriter());
  if (!writer) return nullptr;
  if (version == TRC_VERSION_1_1) {
    writer->write_header = trc11_write_header;
    writer->write_frame = trc11_write_frame;
  } else if (version == TRC_VERSION_2_1) {
    writer->write_header = trc21_write_header;
    writer->write_frame = trc21_write_frame;
  } else {
    return nullptr;
  }
  writer->output_root = output_root;
  if (writer->line.reserve(256) == nullptr) return nullptr;
  // Temporary names differ between runs that write into one folder at the same time.
  auto now = std::chrono::system_clock::now().time_since_epoch().count();
  writer->name_state_ =
      static_cast<uint64_t>(now) ^ (static_cast<uint64_t>(platform_process_id()) << 40);
  return writer;
}

void trc_writer_release(std::unique_ptr<TrcWriter>& writer) {
  if (!writer) return;
  // The output root may be gone already; the job has ended every file and committed or discarded
  // what waited, so nothing is left to remove.
  if (writer->stream) {
    byte_stream_close(writer->stream);
    writer->stream.reset();
  }
  writer.reset();
}

bool TrcWriter::open_temporary(uint32_t permissions) {
  for (int attempt = 0; attempt < CREATE_ATTEMPTS; ++attempt) {
    temporary_ = temporary_trace_path(path.view(), next_random(name_state_));
    bool exists = false;
    stream = folder_root_create_new(output_root, temporary_.view(), permissions, &exists);
    if (stream || !exists) break;
  }
  return stream != nullptr;
}

bool TrcWriter::new_file(const TraceFileInfo& info, bool /*continuation*/) {
  // Every input gets an output of its own, also when it continues the previous split file.
  path.clear();
  path.append(info.output_path.view());
  path.append(StrView(".trc"));
  opened_ = false;
  write_failed_ = false;
  kept_ = false;
  if (!open_temporary(info.permissions)) {
    DIAG(LOG_ERROR, "Could not open output file for CAN: %s", path.c_str());
    return false;
  }
  opened_ = true;
  start_time = std::nan("");
  next_number = 1;
  header_written = false;
  return true;
}

bool TrcWriter::frame(const CanRecord& record) {
  if (record.kind != CAN_RECORD_FRAME && record.kind != CAN_RECORD_OTHER_FRAME) return true;
  if (!header_written) {
    start_time = record.timestamp;
    if (!write_header(*this)) {
      write_failed_ = true;
      return false;
    }
    header_written = true;
  }
  if (!write_frame(*this, record)) {
    write_failed_ = true;
    return false;
  }
  return true;
}

bool TrcWriter::remove_temporary(StrView temporary) {
  if (folder_root_remove(output_root, temporary)) return true;
  DIAG(LOG_ERROR, "Could not remove CAN file");
  return false;
}

bool TrcWriter::remove_previous_trace() {
  PathStatus status;
  if (!folder_root_stat(output_root, path.view(), &status)) return true;
  if (!status.is_link && (status.kind == PATH_MISSING || status.kind == PATH_DIRECTORY)) {
    return true;
  }
  if (folder_root_remove(output_root, path.view())) return true;
  DIAG(LOG_ERROR, "Could not remove CAN file");
  return false;
}

bool TrcWriter::publish(const TraceFileInfo& info) {
  if (!info.durable) {
    if (folder_root_rename(output_root, temporary_.view(), path.view(), true) !=
        RenameResult::done) {
      DIAG(LOG_ERROR, "Could not rename CAN file to %s", path.c_str());
      remove_temporary(temporary_.view());
      return false;
    }
    kept_ = true;
    return true;
  }
  // The input of a durable file goes once its trace is published: that trace must never
  // take the place of another, whether from an earlier run or from this one.
  bool taken = false;
  for (const Staged& staged : staged_) taken = taken || staged.final == path;
  FileIdentity existing;
  taken = taken || folder_root_identify(output_root, path.view(), existing) != ENOENT;
  if (taken) {
    DIAG(LOG_ERROR, "Trace %s exists, not overwritten", path.c_str());
    remove_temporary(temporary_.view());
    return false;
  }
  staged_.push_back(Staged{temporary_, path});
  kept_ = true;
  return true;
}

bool TrcWriter::end_file(const TraceFileInfo& info) {
  kept_ = false;
  bool result = true;
  if (stream) {
    if (byte_stream_close(stream) != 0) {
      DIAG(LOG_ERROR, "Could not close CAN file");
      result = false;
    }
    stream.reset();
  }
  // Nothing of ours is on disk when the output could not be created.
  if (!opened_) return result;
  opened_ = false;
  // A trace cut short by a failed write or close, or by an input that could not be read to its
  // end, could pass for a whole one: it is never published. The input is kept, so nothing is
  // lost.
  bool whole = result && !write_failed_ && !info.input_cut_short;
  if (whole && header_written && next_number != 1) return publish(info);
  if (!remove_temporary(temporary_.view())) return false;
  // Written in place, the trace would have replaced what was at its name and then gone: the name
  // ends empty, as it always has. A durable file's input stays, and so does what is there.
  if (!info.durable && !remove_previous_trace()) return false;
  return result;
}

std::vector<bool> TrcWriter::commit() {
  std::vector<bool> published(staged_.size(), false);
  if (staged_.empty()) return published;
  std::vector<SmallString> temporaries;
  for (const Staged& staged : staged_) temporaries.push_back(staged.temporary);
  // The data first, then the names: a power cut leaves either the old name or the whole trace.
  bool synced = folder_root_sync(output_root, temporaries);
  std::vector<SmallString> finals;
  for (size_t i = 0; i < staged_.size(); ++i) {
    const Staged& staged = staged_[i];
    RenameResult renamed = RenameResult::failed;
    if (!synced) {
      DIAG(LOG_ERROR, "Could not flush CAN file %s to disk", staged.final.c_str());
    } else {
      renamed =
          folder_root_rename(output_root, staged.temporary.view(), staged.final.view(), false);
      if (renamed == RenameResult::exists) {
        DIAG(LOG_ERROR, "Trace %s exists, not overwritten", staged.final.c_str());
      } else if (renamed == RenameResult::failed) {
        DIAG(LOG_ERROR, "Could not rename CAN file to %s", staged.final.c_str());
      }
    }
    if (renamed != RenameResult::done) {
      remove_temporary(staged.temporary.view());
      continue;
    }
    published[i] = true;
    finals.push_back(staged.final);
  }
  if (!finals.empty() && !folder_root_sync(output_root, finals)) {
    for (size_t i = 0; i < staged_.size(); ++i) {
      if (!published[i]) continue;
      DIAG(LOG_ERROR, "Could not flush CAN file %s to disk", staged_[i].final.c_str());
      published[i] = false;
    }
  }
  staged_.clear();
  return published;
}

void TrcWriter::discard() {
  for (const Staged& staged : staged_) remove_temporary(staged.temporary.view());
  staged_.clear();
}

}  // namespace velmarch
