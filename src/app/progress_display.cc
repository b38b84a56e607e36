#include "app/progress_display.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>

#include "diag/status_line.h"

namespace velmarch {

namespace {

// 1234567 as "1,234,567".
std::string grouped(int64_t value) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return value < 0 ? "-" + out : out;
}

// "0:04", "12:30", "1:02:03".
std::string clock_text(double seconds) {
  auto total = static_cast<int64_t>(seconds < 0 ? 0 : seconds);
  char text[32];
  if (total >= 3600) {
    std::snprintf(text, sizeof text, "%" PRId64 ":%02d:%02d", total / 3600,
                  static_cast<int>(total / 60 % 60), static_cast<int>(total % 60));
  } else {
    std::snprintf(text, sizeof text, "%d:%02d", static_cast<int>(total / 60),
                  static_cast<int>(total % 60));
  }
  return text;
}

std::string count_of(int64_t count, const char* one, const char* many) {
  return grouped(count) + " " + (count == 1 ? one : many);
}

}  // namespace

ProgressSnapshot progress_snapshot(const RunProgress& progress) {
  ProgressSnapshot now;
  now.files_total = progress.files_total.load(std::memory_order_relaxed);
  now.bytes_total = progress.bytes_total.load(std::memory_order_relaxed);
  now.converted = progress.files_converted.load(std::memory_order_relaxed);
  now.skipped = progress.files_skipped.load(std::memory_order_relaxed);
  now.failed = progress.files_failed.load(std::memory_order_relaxed);
  now.frames = progress.frames.load(std::memory_order_relaxed);
  now.traces = progress.counts_traces ? progress.traces.load(std::memory_order_relaxed) : -1;
  now.bytes_read = progress.bytes_read.load(std::memory_order_relaxed);
  return now;
}

std::string progress_status_text(const ProgressSnapshot& now, double elapsed_seconds) {
  int64_t done = now.converted + now.skipped + now.failed;
  // A file counted twice, or added while the run went on, never shows more done than there is.
  int64_t total = std::max(now.files_total, done);
  std::string text = "[" + grouped(done) + "/" + grouped(total) + " files] " +
                     count_of(now.frames, "frame", "frames");
  if (elapsed_seconds >= 0.2) {
    char rate[32];
    std::snprintf(rate, sizeof rate, ", %.1f MB/s",
                  static_cast<double>(now.bytes_read) / elapsed_seconds / 1e6);
    text += rate;
  }
  text += ", " + clock_text(elapsed_seconds) + " elapsed";
  // A guess from the bytes read so far, once there is something to go by.
  if (elapsed_seconds >= 1 && now.bytes_read > 0 && now.bytes_total > now.bytes_read) {
    double left = elapsed_seconds * static_cast<double>(now.bytes_total - now.bytes_read) /
                  static_cast<double>(now.bytes_read);
    text += ", " + clock_text(std::ceil(left)) + " left";
  }
  return text;
}

std::string progress_summary_text(const ProgressSnapshot& now, double elapsed_seconds) {
  std::string into = now.traces < 0 ? "" : " into " + count_of(now.traces, "trace", "traces");
  std::string text = count_of(now.converted, "file", "files") + " converted" + into + ", " +
                     grouped(now.skipped) + " skipped, " + grouped(now.failed) + " failed; " +
                     count_of(now.frames, "frame", "frames") + "; ";
  if (elapsed_seconds < 60) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f s", elapsed_seconds);
    text += seconds;
  } else {
    text += clock_text(elapsed_seconds);
  }
  return text;
}

ProgressDisplay::ProgressDisplay(const RunProgress& progress)
    : progress_(progress), start_(std::chrono::steady_clock::now()) {
  // The first line after a tenth of a second, by when a tree's files are usually counted; a
  // short run shows only its summary.
  thread_ = std::thread([this] {
    std::unique_lock<std::mutex> lock(mutex_);
    // Ten times a second at most: more is flicker, and costs the run.
    while (!wake_.wait_for(lock, std::chrono::milliseconds(100), [this] { return stopping_; })) {
      redraw();
    }
  });
}

ProgressDisplay::~ProgressDisplay() { finish(); }

void ProgressDisplay::finish() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return;
    stopping_ = true;
  }
  wake_.notify_one();
  thread_.join();
  status_line_end(progress_summary_text(progress_snapshot(progress_), elapsed()));
}

double ProgressDisplay::elapsed() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void ProgressDisplay::redraw() {
  status_line_show(progress_status_text(progress_snapshot(progress_), elapsed()));
}

}  // namespace velmarch
