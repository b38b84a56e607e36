#include "trc/trc_writer.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <chrono>
#include <cmath>
#include <cstring>
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

// The longest line seen so far keeps its room: after the first file, lines allocate nothing.
constexpr int64_t LINE_CAPACITY = 256;

TrcWriter::TrcWriter(Shared& shared) : shared_(shared) {
  // Temporary names differ between runs that write into one folder at the same time, and
  // between the writers of one run.
  auto now = std::chrono::system_clock::now().time_since_epoch().count();
  auto lane = static_cast<uint64_t>(++shared.writers);
  name_state_ = static_cast<uint64_t>(now) ^
                (static_cast<uint64_t>(platform_process_id()) << 40) ^ next_random(lane);
  line_.reserve(LINE_CAPACITY);
}

std::unique_ptr<TrcWriter> trc_writer_create(FolderRoot* output_root, int32_t version) {
  const TrcVersion* description = trc_version(version);
  if (description == nullptr) return nullptr;
  std::unique_ptr<TrcWriter::Shared> shared(
      new (std::nothrow) TrcWriter::Shared{output_root, *description, {}, 0});
  if (!shared) return nullptr;
  std::unique_ptr<TrcWriter> writer(new (std::nothrow) TrcWriter(*shared));
  if (!writer || writer->line_.capacity() < LINE_CAPACITY) return nullptr;
  writer->own_shared_ = std::move(shared);
  return writer;
}

std::unique_ptr<TraceSink> TrcWriter::another() {
  return std::unique_ptr<TraceSink>(new (std::nothrow) TrcWriter(shared_));
}

bool TrcWriter::write_line() {
  int64_t length = line_.size();
  errno = 0;  // what a failed write says is its own reason, never an earlier one
  return stream_ &&
         byte_stream_write(*stream_, line_.data(), static_cast<uint64_t>(length)) == length;
}

bool TrcWriter::open_temporary(uint32_t permissions) {
  for (int attempt = 0; attempt < CREATE_ATTEMPTS; ++attempt) {
    temporary_ = temporary_trace_path(path_.view(), next_random(name_state_));
    bool exists = false;
    stream_ = folder_root_create_new(shared_.output_root, temporary_.view(), permissions, &exists);
    if (stream_ || !exists) break;
  }
  return stream_ != nullptr;
}

bool TrcWriter::new_file(const TraceFileInfo& info, bool /*continuation*/) {
  // Every input gets an output of its own, also when it continues the previous split file.
  path_.clear();
  path_.append(info.output_path.view());
  path_.append(StrView(".trc"));
  opened_ = false;
  write_failed_ = false;
  kept_ = false;
  if (!open_temporary(info.permissions)) {
    DIAG_FAILURE(LOG_ERROR, "Could not open output file for CAN: %s", path_.c_str());
    return false;
  }
  opened_ = true;
  DIAG(LOG_DEBUG, "Converting %s into %s", info.input_path.c_str(), path_.c_str());
  start_time_ = std::nan("");
  next_number_ = 1;
  header_written_ = false;
  return true;
}

bool TrcWriter::frame(const CanRecord& record) {
  if (record.kind != CAN_RECORD_FRAME && record.kind != CAN_RECORD_OTHER_FRAME) return true;
  if (!header_written_) {
    start_time_ = record.timestamp;
    line_.clear();
    trc_append_header(line_, shared_.version, start_time_);
    if (!write_line()) {
      DIAG_FAILURE(LOG_ERROR, "Could not write CAN header");
      write_failed_ = true;
      return false;
    }
    header_written_ = true;
  }
  // A skipped frame still starts the file above: its time is the origin of the offsets.
  if (shared_.version.skips_fd_frames && record.fd == 1) return true;
  line_.clear();
  shared_.version.append_record(line_, next_number_++, (record.timestamp - start_time_) * 1000, record);
  if (!write_line()) {
    if (shared_.version.write_error != nullptr) {
      DIAG_FAILURE(LOG_ERROR, "%s", shared_.version.write_error);
    } else {
      // A version without a message of its own still tells why (a full disk, say).
      log_reason(LOG_ERROR, errno);
    }
    write_failed_ = true;
    return false;
  }
  return true;
}

bool TrcWriter::remove_temporary(StrView temporary) {
  if (folder_root_remove(shared_.output_root, temporary)) return true;
  DIAG_FAILURE(LOG_ERROR, "Could not remove CAN file");
  return false;
}

bool TrcWriter::remove_previous_trace() {
  PathStatus status;
  if (!folder_root_stat(shared_.output_root, path_.view(), &status)) return true;
  if (!status.is_link && (status.kind == PATH_MISSING || status.kind == PATH_DIRECTORY)) {
    return true;
  }
  if (folder_root_remove(shared_.output_root, path_.view())) return true;
  DIAG_FAILURE(LOG_ERROR, "Could not remove CAN file");
  return false;
}

bool TrcWriter::same_bytes(StrView a, StrView b) {
  std::unique_ptr<ByteStream> first = folder_root_open(shared_.output_root, a, OPEN_READ);
  std::unique_ptr<ByteStream> second = folder_root_open(shared_.output_root, b, OPEN_READ);
  if (!first || !second) return false;
  constexpr size_t BLOCK = 64 << 10;
  std::unique_ptr<char[]> blocks(new (std::nothrow) char[2 * BLOCK]);
  if (!blocks) return false;
  for (;;) {
    int64_t got = byte_stream_read(*first, blocks.get(), BLOCK);
    int64_t other = byte_stream_read(*second, blocks.get() + BLOCK, BLOCK);
    if (got < 0 || got != other) return false;
    if (got == 0) return true;
    if (std::memcmp(blocks.get(), blocks.get() + BLOCK, static_cast<size_t>(got)) != 0) {
      return false;
    }
  }
}

bool TrcWriter::give_name(const TraceFileInfo& info) {
  if (!info.durable) {
    if (folder_root_rename(shared_.output_root, temporary_.view(), path_.view(), true) !=
        RenameResult::done) {
      DIAG_FAILURE(LOG_ERROR, "Could not rename CAN file to %s", path_.c_str());
      remove_temporary(temporary_.view());
      return false;
    }
    kept_ = true;
    return true;
  }
  // The input of a durable file goes once its trace is published: that trace must never
  // take the place of another, whether from an earlier run or from this one.
  bool taken = false;
  for (const Staged& staged : shared_.staged) taken = taken || staged.final == path_;
  FileIdentity existing;
  int found = folder_root_identify(shared_.output_root, path_.view(), existing);
  // A rerun after a run without -d finds its own trace there: that one will do.
  bool identical = !taken && found == 0 && existing.regular &&
                   same_bytes(path_.view(), temporary_.view());
  if (!identical && (taken || found != ENOENT)) {
    DIAG(LOG_ERROR, "Trace %s exists, not overwritten: remove it, or convert without -d",
         path_.c_str());
    remove_temporary(temporary_.view());
    return false;
  }
  shared_.staged.push_back(Staged{temporary_, path_, identical, existing});
  kept_ = true;
  return true;
}

bool TrcWriter::end_file(const TraceFileInfo& info) {
  kept_ = false;
  whole_ = false;
  failed_ = false;
  named_ = false;
  bool result = true;
  if (stream_) {
    errno = 0;
    if (byte_stream_close(stream_) != 0) {
      DIAG_FAILURE(LOG_ERROR, "Could not close CAN file");
      result = false;
    }
    stream_.reset();
  }
  // Nothing of ours is on disk when the output could not be created.
  if (!opened_) return result;
  opened_ = false;
  // A trace cut short by a failed write or close, or by an input that could not be read to its
  // end, could pass for a whole one: it is never published. The input is kept, so nothing is
  // lost.
  whole_ = result && !write_failed_ && !info.input_cut_short && header_written_ &&
           next_number_ != 1;
  if (whole_) {
    int64_t frames = next_number_ - 1;
    DIAG(LOG_DEBUG, "Wrote %" PRId64 " frame%s to %s", frames, frames == 1 ? "" : "s",
         path_.c_str());
  }
  // No other file in flight wants this name: it is given now, on this thread, rather than in
  // turn. A durable file's trace waits for the commit whatever.
  if (whole_ && !info.durable && !info.name_shared) {
    whole_ = false;
    named_ = true;
    kept_ = give_name(info);
    return kept_;
  }
  if (whole_) return result;
  if (!remove_temporary(temporary_.view())) return false;
  failed_ = true;
  return result;
}

bool TrcWriter::publish(const TraceFileInfo& info) {
  if (named_) {
    named_ = false;
    return kept_;
  }
  kept_ = false;
  if (whole_) {
    whole_ = false;
    // The run stops: what was not published by now never is.
    if (info.interrupted) return remove_temporary(temporary_.view());
    return give_name(info);
  }
  if (!failed_) return true;
  failed_ = false;
  // Written in place, the trace would have replaced what was at its name and then gone: the name
  // ends empty, as it always has. A durable file's input stays, and so does what is there; an
  // interrupted run changes nothing more.
  if (info.durable || info.interrupted) return true;
  return remove_previous_trace();
}

std::vector<bool> TrcWriter::commit() {
  std::vector<bool> published(shared_.staged.size(), false);
  if (shared_.staged.empty()) return published;
  std::vector<SmallString> temporaries;
  for (const Staged& staged : shared_.staged) {
    temporaries.push_back(staged.identical ? staged.final : staged.temporary);
  }
  // The data first, then the names: a power cut leaves either the old name or the whole trace.
  bool synced = folder_root_sync(shared_.output_root, temporaries);
  int sync_error = errno;
  std::vector<SmallString> finals;
  for (size_t i = 0; i < shared_.staged.size(); ++i) {
    const Staged& staged = shared_.staged[i];
    RenameResult renamed = RenameResult::failed;
    if (!synced) {
      DIAG(LOG_ERROR, "Could not flush CAN file %s to disk", staged.final.c_str());
      log_reason(LOG_ERROR, sync_error);
    } else if (staged.identical) {
      renamed = commit_identical(staged) ? RenameResult::done : RenameResult::exists;
    } else {
      renamed =
          folder_root_rename(shared_.output_root, staged.temporary.view(), staged.final.view(), false);
      if (renamed == RenameResult::exists) {
        DIAG(LOG_ERROR, "Trace %s exists, not overwritten: remove it, or convert without -d",
             staged.final.c_str());
      } else if (renamed == RenameResult::failed) {
        DIAG_FAILURE(LOG_ERROR, "Could not rename CAN file to %s", staged.final.c_str());
      }
    }
    if (renamed != RenameResult::done || staged.identical) {
      remove_temporary(staged.temporary.view());
      if (renamed != RenameResult::done) continue;
    }
    published[i] = true;
    finals.push_back(staged.final);
  }
  if (!finals.empty() && !folder_root_sync(shared_.output_root, finals)) {
    sync_error = errno;
    for (size_t i = 0; i < shared_.staged.size(); ++i) {
      if (!published[i]) continue;
      DIAG(LOG_ERROR, "Could not flush CAN file %s to disk", shared_.staged[i].final.c_str());
      log_reason(LOG_ERROR, sync_error);
      published[i] = false;
    }
  }
  shared_.staged.clear();
  return published;
}

// The trace at the name, flushed by now, stands for the new one while it is still the file
// whose bytes were compared.
bool TrcWriter::commit_identical(const Staged& staged) {
  FileIdentity now;
  if (folder_root_identify(shared_.output_root, staged.final.view(), now) == 0 &&
      same_file_state(staged.existing, now)) {
    DIAG(LOG_DEBUG, "Kept the identical trace %s", staged.final.c_str());
    return true;
  }
  DIAG(LOG_ERROR, "Trace %s exists, not overwritten: remove it, or convert without -d",
       staged.final.c_str());
  return false;
}

}  // namespace velmarch
