// The reader's fast paths against the plain ones they stand in for, over many generated and
// odd inputs: any difference here is a conversion that changed its output.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "testing/memory_stream.h"
#include "stream/buffered_stream.h"
#include "textlog/text_log_reader.h"
#include "textlog/timestamps.h"

namespace velmarch {
namespace {

struct Lines {
  std::vector<std::string> lines;
  bool failed = false;
  int64_t position = 0;
  int64_t line_feeds = 0;  // lines that took theirs: what an editor's line count follows
  bool operator==(const Lines&) const = default;
};

template <class Read>
Lines read_all(ByteStream& stream, Read read) {
  Lines result;
  char line[TEXT_LINE_BUFFER];
  for (;;) {
    bool fed = false;
    size_t n = read(stream, line, result.failed, &fed);
    if (n == 0) break;
    result.line_feeds += fed ? 1 : 0;
    result.lines.emplace_back(line, n);
  }
  result.position = byte_stream_tell(stream).value_or(-1);
  return result;
}

std::string random_text(std::mt19937& rng) {
  // Line feeds, carriage returns and zero bytes, with lines around the 199-character limit.
  static const char letters[] = "ab;:.0129\r\n\r\n\0\0";
  std::uniform_int_distribution<int> pick(0, sizeof letters - 2);
  std::uniform_int_distribution<int> run(0, 40);
  std::string text;
  int length = std::uniform_int_distribution<int>(0, 1200)(rng);
  while (static_cast<int>(text.size()) < length) {
    if (rng() % 16 == 0) text.append(static_cast<size_t>(190 + rng() % 20), 'x');
    char c = letters[pick(rng)];
    text.append(static_cast<size_t>(c == 'a' ? run(rng) : 1), c);
  }
  return text;
}

TEST(LineReading, BufferedScanGivesWhatByteReadsGive) {
  std::mt19937 rng(11);
  for (int i = 0; i < 3000; ++i) {
    std::string text = random_text(rng);
    int64_t fail_from = i % 4 == 0 ? static_cast<int64_t>(rng() % (text.size() + 1)) : -1;
    MemoryStream plain_inner(text);
    plain_inner.fail_reads_from = fail_from;
    Lines plain = read_all(plain_inner, read_text_line_bytewise);
    if (fail_from < 0) {
      ASSERT_EQ(plain.line_feeds, std::count(text.begin(), text.end(), '\n'));
    }

    MemoryStream inner(text);
    inner.fail_reads_from = fail_from;
    uint64_t size = 1 + rng() % (i % 2 ? 16 : 400);
    auto buffered = buffered_stream_open(inner, size);
    ASSERT_TRUE(buffered);
    Lines fast = read_all(*buffered, read_text_line);
    ASSERT_EQ(fast, plain) << "text of " << text.size() << " bytes, buffer " << size
                           << ", reads fail from " << fail_from;
  }
}

// The records of a text log as the reader hands them out, with the stream's end state.
std::vector<std::string> records_of(ByteStream& stream) {
  std::vector<std::string> out;
  auto reader = text_log_open(&stream);
  if (!reader) return {"not opened"};
  text_log_rewind(*reader);
  CanRecord r;
  while (text_log_next(*reader, r)) {
    char text[96];
    std::snprintf(text, sizeof text, "%.3f %u %d%d %u:", r.timestamp, r.id, r.extended, r.tx,
                  r.length);
    out.push_back(text + std::string(r.data.data(), static_cast<size_t>(r.data.size())));
  }
  out.push_back(reader->failed ? "failed" : "ended");
  return out;
}

TEST(LineReading, BufferedReaderHandsOutWhatTheUnbufferedOneDoes) {
  std::mt19937 rng(13);
  const std::string header =
      "# Logger ID: 1\r\n# Session No.: 1\n# Split No.: 1\n# Time: 20170307T113006\n"
      "# Time format: 3\n# Value separator: \";\"\n# Time separator: \":\"\n"
      "Timestamp;Type;ID;Length;Data\r\n";
  for (int i = 0; i < 2000; ++i) {
    std::string text = header;
    int lines = static_cast<int>(rng() % 40);
    for (int n = 0; n < lines; ++n) {
      char line[64];
      std::snprintf(line, sizeof line, "11:%02u:%02u.%03u;%u;%X;%u;", 30 + n / 10, n % 60,
                    static_cast<unsigned>(rng() % 1000), static_cast<unsigned>(rng() % 10),
                    static_cast<unsigned>(rng()), static_cast<unsigned>(rng() % 12));
      text += line;
      text += random_text(rng).substr(0, rng() % 40);  // data, and whatever follows
      text += rng() % 3 ? "\n" : "\r\n";
    }
    int64_t fail_from = i % 5 == 0 ? static_cast<int64_t>(rng() % (text.size() + 1)) : -1;
    MemoryStream plain(text);
    plain.fail_reads_from = fail_from;
    MemoryStream inner(text);
    inner.fail_reads_from = fail_from;
    auto buffered = buffered_stream_open(inner, 1 + rng() % (i % 2 ? 64 : 100000));
    ASSERT_EQ(records_of(*buffered), records_of(plain)) << "log " << i;
  }
}

// A composed time that is mostly digits, shares its hour with the one before it more often
// than not, and now and then holds a blank, sign or letter, an hour before 1970, a year past
// 2999, or minutes and seconds that only the calendar's normalisation makes sense of.
std::string random_composed(std::mt19937& rng, const std::string& previous) {
  std::string t = previous;
  switch (rng() % 8) {
    case 0:
    case 1:
    case 2:
      break;  // same hour
    case 3:
      t.replace(0, 10, std::to_string(1965 + rng() % 80) + "0" + std::to_string(1 + rng() % 9) +
                           "2" + std::to_string(rng() % 10) + "1" + std::to_string(rng() % 10));
      break;
    default: {
      for (char& c : t) c = static_cast<char>('0' + rng() % 10);
      if (rng() % 3 == 0) t.replace(0, 4, rng() % 2 ? "2999" : "1969");
      if (rng() % 4 == 0) t[rng() % 17] = " +-xT"[rng() % 5];
      break;
    }
  }
  for (int i = 10; i < 17; ++i) t[static_cast<size_t>(i)] = static_cast<char>('0' + rng() % 10);
  return t;
}

TEST(TimeConversion, CachedHourGivesThePlainValue) {
  std::mt19937 rng(12);
  HourCache cache;
  std::string composed = "20170307113006000";
  for (int i = 0; i < 300000; ++i) {
    composed = random_composed(rng, composed);
    double plain = composed_time_plain(composed.c_str());
    double fast = composed_time(cache, composed.c_str());
    ASSERT_EQ(fast, plain) << composed;
  }
}

TEST(TimeConversion, ChosenEdges) {
  HourCache cache;
  for (const char* composed :
       {"19700101000000000", "19691231235959999", "20170307119999999", "20171231239999999",
        "20160229230000000", "29981231235959999", "29991231230000000", "99999999999999999",
        "2017030711300 000", "20170307-1300000", "00000000000000000", "20170307113006123"}) {
    ASSERT_EQ(composed_time(cache, composed), composed_time_plain(composed)) << composed;
  }
}

}  // namespace
}  // namespace velmarch
