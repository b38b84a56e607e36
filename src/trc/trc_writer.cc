#include "trc/trc_writer.h"

#include <cmath>
#include <new>

#include "diag/log.h"
#include "trc/trc_format.h"

namespace velmarch {

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
  return writer;
}

void trc_writer_release(std::unique_ptr<TrcWriter>& writer) {
  if (!writer) return;
  if (writer->stream) {
    byte_stream_close(writer->stream);
    writer->stream.reset();
  }
  writer.reset();
}

bool TrcWriter::new_file(const TraceFileInfo& info, bool /*continuation*/) {
  // Every input gets an output of its own, also when it continues the previous split file.
  path.clear();
  path.append(info.output_path.view());
  path.append(StrView(".trc"));
  opened_ = false;
  write_failed_ = false;
  stream = folder_root_open(output_root, path.view(), OPEN_WRITE | 4);
  if (!stream) {
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
  if (record.kind != 1 && record.kind != 2) return true;
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

bool TrcWriter::end_file(const TraceFileInfo& info) {
  bool result = true;
  if (stream) {
    if (byte_stream_close(stream) != 0) {
      DIAG(LOG_ERROR, "Could not close CAN file");
      result = false;
    }
    stream.reset();
  }
  // Nothing of ours is on disk when the output could not be opened: whatever sits at that path
  // belongs to somebody else.
  if (!opened_) return result;
  opened_ = false;
  // A trace cut short by a failed write or close, or by an input that could not be read to its
  // end, could pass for a whole one: it goes too. The input is kept, so nothing is lost.
  bool whole = result && !write_failed_ && !info.input_cut_short;
  if (whole && header_written && next_number != 1) return result;
  if (!folder_root_remove(output_root, path.view())) {
    DIAG(LOG_ERROR, "Could not remove CAN file");
    return false;
  }
  return result;
}

}  // namespace velmarch
