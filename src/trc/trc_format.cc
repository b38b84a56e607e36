#include "trc/trc_format.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "diag/log.h"

namespace velmarch {

namespace {

bool write_line(TrcWriter& writer) {
  if (!writer.stream) return false;
  int64_t length = writer.line.size();
  return byte_stream_write(*writer.stream, writer.line.data(), static_cast<uint64_t>(length)) ==
         length;
}

bool write_header_lines(TrcWriter& writer, const char* version_line, const char* columns_line) {
  SmallString& line = writer.line;
  line.clear();
  line.append(StrView(version_line));
  line.append(StrView(";$STARTTIME="));
  trc_append_start_time(line, writer.start_time);
  if (columns_line != nullptr) line.append(StrView(columns_line));
  if (!write_line(writer)) {
    DIAG(LOG_ERROR, "Could not write CAN header");
    return false;
  }
  return true;
}

const char* direction(const CanRecord& record) { return record.tx != 0 ? "Tx" : "Rx"; }

double offset_ms(const TrcWriter& writer, const CanRecord& record) {
  return (record.timestamp - writer.start_time) * 1000;
}

void append_data(SmallString& line, const CanRecord& record) {
  small_string_append_hex(line, record.data.data(), record.data.size(), ' ', 1);
}

}  // namespace

void trc_append_start_time(SmallString& line, double start_time) {
  double days = start_time / 86400 + 25569;
  double whole_days;
  double fraction = std::modf(days, &whole_days);
  char digits[48];
  std::snprintf(digits, sizeof digits, "%010.0f", fraction * 1e10);
  auto whole = static_cast<unsigned long long>(whole_days);
  // A fraction that rounds up to a whole day belongs to the next day; printed as eleven digits
  // it would read as a different time.
  if (std::strlen(digits) > 10) {
    whole += 1;
    std::strcpy(digits, "0000000000");
  }
  small_string_printf_append(line, "%5llu.%s\n", whole, digits);
}

bool trc11_write_header(TrcWriter& writer) {
  return write_header_lines(writer, ";$FILEVERSION=1.1\n", nullptr);
}

bool trc21_write_header(TrcWriter& writer) {
  return write_header_lines(writer, ";$FILEVERSION=2.1\n", ";$COLUMNS=N,O,T,B,I,d,L,D\n");
}

//      1)         0.0 Rx        0123 8  11 22 33 44 55 66 77 88
bool trc11_write_frame(TrcWriter& writer, const CanRecord& record) {
  if (record.fd == 1) return true;
  SmallString& line = writer.line;
  line.clear();
  auto number = static_cast<long long>(writer.next_number++);
  small_string_format_append(line,
                             record.extended == 1 ? "%6lld) %11.1f %s    %08X %d  "
                                                  : "%6lld) %11.1f %s        %04X %d  ",
                             number, offset_ms(writer, record), direction(record), record.id,
                             record.length);
  if (record.rtr != 0) {
    line.append(StrView("RTR"));
  } else {
    append_data(line, record);
  }
  line.append("\n", 1);
  if (!write_line(writer)) {
    DIAG(LOG_ERROR, "Could not write CAN data");
    return false;
  }
  return true;
}

namespace {

const char* trc21_type(const CanRecord& record) {
  if (record.fd == 1) {
    if (record.brs == 1) return record.esi == 1 ? "BI" : "FB";
    return record.esi == 1 ? "FE" : "FD";
  }
  return record.rtr == 1 ? "RR" : "DT";
}

}  // namespace

//       1         0.000 DT 1     0123 Rx 8    11 22 33 44 55 66 77 88
bool trc21_write_frame(TrcWriter& writer, const CanRecord& record) {
  SmallString& line = writer.line;
  line.clear();
  auto number = static_cast<long long>(writer.next_number++);
  small_string_format_append(line,
                             record.extended == 1 ? "%7lld %13.3f %s %d %08X %s %d"
                                                  : "%7lld %13.3f %s %d     %04X %s %d",
                             number, offset_ms(writer, record), trc21_type(record), record.bus,
                             record.id, direction(record), record.length);
  line.append(StrView(record.length < 10 ? "    " : "   "));
  if (record.rtr == 0) append_data(line, record);
  line.append("\n", 1);
  return write_line(writer);
}

}  // namespace velmarch
