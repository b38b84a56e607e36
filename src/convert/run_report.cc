#include "convert/run_report.h"

#include <cstdio>

namespace velmarch {

namespace {

const char* const OUTCOME_NAMES[] = {"converted", "repeat", "passed over", "failed",
                                     "interrupted"};

// The length of the well-formed UTF-8 sequence at s, or 0.
size_t utf8_sequence(const unsigned char* s, size_t left) {
  unsigned char c = s[0];
  size_t length;
  unsigned char low = 0x80, high = 0xBF;  // the bounds of the second byte
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    if (c == 0xE0) low = 0xA0;
    if (c == 0xED) high = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (left < length || s[1] < low || s[1] > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (s[i] < 0x80 || s[i] > 0xBF) return 0;
  }
  return length;
}

// A JSON string. Paths are bytes: one that is not UTF-8 is written as Python's surrogateescape
// reads it (\udc80 to \udcff), so os.fsencode gives the very bytes back.
void append_json_string(std::string& out, const std::string& text) {
  out += '"';
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  size_t size = text.size();
  char escape[8];
  for (size_t i = 0; i < size;) {
    unsigned char c = bytes[i];
    size_t length = utf8_sequence(bytes + i, size - i);
    if (length == 0) {
      std::snprintf(escape, sizeof escape, "\\udc%02x", c);
      out += escape;
      ++i;
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
      ++i;
    } else if (c < 0x20) {
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
      ++i;
    } else {
      out.append(text, i, length);
      i += length;
    }
  }
  out += '"';
}

void append_field(std::string& out, const char* name) {
  out += out.size() > 1 ? ",\"" : "\"";
  out += name;
  out += "\":";
}

void append_number(std::string& out, const char* name, int64_t value) {
  append_field(out, name);
  out += std::to_string(value);
}

void append_text(std::string& out, const char* name, const std::string& value) {
  append_field(out, name);
  if (value.empty()) {
    out += "null";
  } else {
    append_json_string(out, value);
  }
}

}  // namespace

const char* signal_name(int signal) {
  switch (signal) {
    case 1: return "SIGHUP";
    case 2: return "SIGINT";
    case 15: return "SIGTERM";
    case 21: return "SIGBREAK";
    default: return "a signal";
  }
}

size_t RunReport::add(ReportEntry entry) {
  waiting_.push_back(Held{std::move(entry), 1});
  return first_ + waiting_.size() - 1;
}

ReportEntry& RunReport::entry(size_t number) { return waiting_[number - first_].entry; }

void RunReport::hold(size_t number) {
  if (number != NONE) ++waiting_[number - first_].holds;
}

void RunReport::release(size_t number) {
  if (number == NONE) return;
  --waiting_[number - first_].holds;
  write_ready();
}

void RunReport::write_ready() {
  while (!waiting_.empty() && waiting_.front().holds <= 0) {
    write_entry(waiting_.front().entry);
    waiting_.pop_front();
    ++first_;
  }
}

void RunReport::write_entry(const ReportEntry& entry) {
  auto outcome = static_cast<size_t>(entry.outcome);
  ++outcomes_[outcome];
  input_bytes_ += entry.input_bytes;
  if (entry.removed) ++removed_;
  if (entry.outcome == InputOutcome::converted) {
    frames_ += entry.frames;
    if (entry.output != last_trace_) ++traces_;
    last_trace_ = entry.output;
  }
  line_ = "{";
  append_text(line_, "type", "input");
  append_text(line_, "input", entry.input);
  append_text(line_, "output", entry.output);
  append_text(line_, "outcome", OUTCOME_NAMES[outcome]);
  append_number(line_, "frames", entry.frames);
  append_number(line_, "lines_skipped", entry.lines_skipped);
  append_number(line_, "rollovers", entry.rollovers);
  append_number(line_, "implausible_rollovers", entry.implausible_rollovers);
  append_number(line_, "input_bytes", entry.input_bytes);
  append_text(line_, "reason", entry.reason);
  append_field(line_, "removed");
  line_ += entry.removed ? "true" : "false";
  write_line();
}

bool RunReport::finish(const ReportEnd& end) {
  for (Held& held : waiting_) held.holds = 0;
  write_ready();
  int64_t inputs = 0;
  for (int64_t count : outcomes_) inputs += count;
  line_ = "{";
  append_text(line_, "type", "summary");
  append_number(line_, "inputs", inputs);
  append_number(line_, "converted", outcomes_[0]);
  append_number(line_, "repeat", outcomes_[1]);
  append_number(line_, "passed_over", outcomes_[2]);
  append_number(line_, "failed", outcomes_[3]);
  append_number(line_, "interrupted", outcomes_[4]);
  append_number(line_, "traces", traces_);
  append_number(line_, "frames", frames_);
  append_number(line_, "input_bytes", input_bytes_);
  append_number(line_, "removed", removed_);
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3f", end.seconds);
  append_field(line_, "seconds");
  line_ += seconds;
  // As a shell reports a process that a signal ended: 128 and the signal's number.
  append_number(line_, "exit_status", end.signal != 0 ? 128 + end.signal : end.status.value());
  append_text(line_, "signal", end.signal != 0 ? signal_name(end.signal) : "");
  write_line();
  return !failed_;
}

void RunReport::write_line() {
  line_ += "}\n";
  if (failed_) return;
  IoResult written = byte_stream_write(out_, line_.data(), line_.size());
  if (!written.ok() || written.value() != static_cast<int64_t>(line_.size())) {
    failed_ = true;
    write_error_ = written.error();
  }
}

}  // namespace velmarch
