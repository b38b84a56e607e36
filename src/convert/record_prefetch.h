#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "diag/log.h"
#include "textlog/can_record.h"

namespace velmarch {

struct TextLogReader;

/// Reads the records of one log on a thread of its own, in batches, ahead of the thread that
/// hands them on: parsing one part of a file overlaps formatting and writing another. What the
/// reader logs while reading a record comes out just before that record, so the lines are those
/// of reading and handing on one record after another.
class RecordPrefetch {
 public:
  /// Starts reading at the reader's current position; the reader is the prefetch's until it
  /// ends.
  explicit RecordPrefetch(TextLogReader& reader);
  /// Stops reading, also in the middle of the file.
  ~RecordPrefetch();
  RecordPrefetch(const RecordPrefetch&) = delete;
  RecordPrefetch& operator=(const RecordPrefetch&) = delete;

  /// The next record, valid until the next call, or null after the last one; first moves the
  /// lines the reader logged on the way to it into `log`.
  const CanRecord* next(LogCapture& log);
  /// After next answered null: whether the records ended in a read error.
  bool failed() const { return failed_; }
  /// The stream's offset after the records handed on so far were read, near enough for a
  /// progress display: the batch's end.
  int64_t position() const { return position_read_; }

 private:
  struct alignas(64) Batch {
    std::vector<CanRecord> records;
    size_t count = 0;
    // Lines kept after reading record i; one more entry for the call that found the end.
    std::vector<size_t> marks;
    LogCapture log;
    bool end = false;
    bool failed = false;
    int64_t position = 0;  // the stream's offset after the batch was read
  };

  void read_ahead();

  // What each thread writes lies on cache lines of its own: two cores writing one line would
  // take it from each other at every record.
  static constexpr size_t LINE = 64;

  TextLogReader& reader_;
  std::vector<Batch> batches_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Batch*> free_, full_;
  bool stopping_ = false;
  std::thread thread_;

  // The converting thread's.
  alignas(LINE) Batch* current_ = nullptr;  // being handed on
  size_t position_ = 0;                     // its next record
  size_t lines_given_ = 0;                  // its lines moved out so far
  bool failed_ = false;
  int64_t position_read_ = 0;
};

}  // namespace velmarch
