#include "convert/record_prefetch.h"

#include "textlog/text_log_reader.h"

namespace velmarch {

namespace {

// Records per batch and batches in flight. Every handover between the threads may cost a
// context switch, which is dear in a virtual machine: batches are large enough that a file of a
// million frames needs about 250, small enough that a file of a few megabytes does not wait long
// for its first one, and all of them (1 MiB) stay in the caches.
constexpr size_t BATCH_RECORDS = 4096;
constexpr size_t BATCHES = 6;

}  // namespace

RecordPrefetch::RecordPrefetch(TextLogReader& reader) : reader_(reader), batches_(BATCHES) {
  for (Batch& batch : batches_) {
    batch.records.resize(BATCH_RECORDS);
    free_.push_back(&batch);
  }
  thread_ = std::thread([this] { read_ahead(); });
}

RecordPrefetch::~RecordPrefetch() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void RecordPrefetch::read_ahead() {
  for (;;) {
    Batch* batch;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return stopping_ || !free_.empty(); });
      if (stopping_) return;
      batch = free_.front();
      free_.pop_front();
    }
    batch->count = 0;
    batch->marks.clear();
    batch->log.clear();
    {
      LogCaptureScope keep(&batch->log);
      while (batch->count < batch->records.size()) {
        bool got = text_log_next(reader_, batch->records[batch->count]);
        batch->marks.push_back(batch->log.size());
        if (!got) {
          batch->end = true;
          batch->failed = text_log_failed(reader_);
          break;
        }
        ++batch->count;
      }
    }
    batch->position = byte_stream_tell(*reader_.stream).value_or(-1);
    bool end = batch->end;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      full_.push_back(batch);
    }
    changed_.notify_all();
    if (end) return;
  }
}

const CanRecord* RecordPrefetch::next(LogCapture& log) {
  for (;;) {
    if (current_ != nullptr) {
      if (position_ < current_->count) {
        size_t mark = current_->marks[position_];
        current_->log.move_lines(lines_given_, mark, log);
        lines_given_ = mark;
        return &current_->records[position_++];
      }
      if (current_->end) {
        current_->log.move_lines(lines_given_, current_->marks[current_->count], log);
        lines_given_ = current_->marks[current_->count];
        failed_ = current_->failed;
        return nullptr;
      }
    }
    std::unique_lock<std::mutex> lock(mutex_);
    if (current_ != nullptr) {
      free_.push_back(current_);
      changed_.notify_all();
    }
    changed_.wait(lock, [this] { return !full_.empty(); });
    current_ = full_.front();
    full_.pop_front();
    position_read_ = current_->position;
    position_ = 0;
    lines_given_ = 0;
  }
}

}  // namespace velmarch
