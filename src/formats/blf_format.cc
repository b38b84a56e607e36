#include "formats/blf_format.h"

#include <libdeflate.h>

#include <cmath>
#include <cstring>
#include <ctime>
#include <new>

#include "diag/log.h"
#include "formats/format_text.h"
#include "platform/platform.h"

namespace velmarch {

namespace {

// The layout python-can's can/io/blf.py reads and writes, little-endian throughout.
constexpr uint32_t FILE_HEADER_SIZE = 144;
constexpr uint32_t BASE_HEADER_SIZE = 16;  // "LOBJ", header size and version, object size, type
constexpr uint32_t OBJECT_HEADER_SIZE = BASE_HEADER_SIZE + 16;  // and version 1's fields
constexpr uint32_t CAN_MESSAGE_SIZE = OBJECT_HEADER_SIZE + 16;
constexpr uint32_t CONTAINER_HEADER_SIZE = BASE_HEADER_SIZE + 16;  // and LOG_CONTAINER's fields
constexpr unsigned char FILE_SIGNATURE[4] = {'L', 'O', 'G', 'G'};
constexpr unsigned char OBJECT_SIGNATURE[4] = {'L', 'O', 'B', 'J'};
constexpr uint32_t CAN_MESSAGE = 1;
constexpr uint32_t LOG_CONTAINER = 10;
constexpr uint16_t ZLIB_DEFLATE = 2;
constexpr uint32_t TIME_ONE_NANS = 2;
constexpr uint32_t EXTENDED_ID = 0x80000000;
constexpr uint8_t TRANSMITTED = 0x01;
constexpr uint8_t REMOTE = 0x80;
// Readers inflate up to 128 KiB a container. Only whole objects go in, so that no reader has
// to join one split between two containers.
constexpr uint32_t CONTAINER_CAPACITY = 128 * 1024 / CAN_MESSAGE_SIZE * CAN_MESSAGE_SIZE;
// At level 1 CAN frames come out at most some 3% larger than at level 6, in a third of the time.
constexpr int COMPRESSION_LEVEL = 1;

// What every object starts with: "LOBJ", header size, header version 1, object size, type.
void put_base_header(unsigned char* p, uint32_t header_size, uint32_t object_size, uint32_t type) {
  std::memcpy(p, OBJECT_SIGNATURE, sizeof OBJECT_SIGNATURE);
  put_le16(p + 4, header_size);
  put_le16(p + 6, 1);
  put_le32(p + 8, object_size);
  put_le32(p + 12, type);
}

// A SYSTEMTIME: year, month, weekday (0 for Sunday), day, hour, minute, second, milliseconds.
// Left zero, as python-can leaves a time it cannot break down.
void put_system_time(unsigned char* p, double timestamp) {
  std::memset(p, 0, 16);
  double milliseconds = std::round(timestamp * 1000);
  // Up to the end of year 9999; NaN fails the test too.
  if (!(milliseconds >= 0 && milliseconds < 253402300800000.0)) return;
  auto total = static_cast<int64_t>(milliseconds);
  struct tm fields {};
  if (!platform_time_to_utc(static_cast<time_t>(total / 1000), &fields)) return;
  const int values[8] = {
      fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_wday, fields.tm_mday,
      fields.tm_hour,        fields.tm_min,     fields.tm_sec,  static_cast<int>(total % 1000)};
  for (size_t i = 0; i < 8; ++i) put_le16(p + 2 * i, static_cast<uint32_t>(values[i]));
}

// Timestamps near today's dates carry about 0.2 us of rounding: offsets are whole
// microseconds, as in the TRC files, which is finer than any text log.
uint64_t offset_nanoseconds(double seconds) {
  double microseconds = std::round(seconds * 1e6);
  // A frame before the first one goes at the start, as python-can puts it.
  if (!(microseconds > 0)) return 0;
  if (microseconds >= 1.8e16) return UINT64_MAX / 1000 * 1000;  // past 580 years
  return static_cast<uint64_t>(microseconds) * 1000;
}

class BlfFormat final : public TraceSink {
 public:
  /// False when memory runs out.
  bool init();

  StrView extension() const override { return StrView(".blf"); }
  bool new_file(const TraceFileInfo& info, ByteStream& out, bool continuation) override;
  bool frame(const CanRecord& record) override;
  int64_t end_file() override;
  std::unique_ptr<TraceSink> another() const override { return blf_format_create(); }

 private:
  bool write(const unsigned char* bytes, uint32_t count);
  void fill_file_header(unsigned char* header) const;
  bool write_container();
  bool rewrite_file_header();
  bool fail();
  /// Whether a write or seek answered the count or position expected; notes its reason.
  bool answered(IoResult done, int64_t expected);

  ByteStream* out_ = nullptr;  // borrowed from new_file to end_file
  int64_t frames_ = 0;
  double start_time_ = 0;  // the first frame's timestamp
  double end_time_ = 0;    // the last frame's
  uint64_t file_size_ = 0;
  uint64_t uncompressed_size_ = 0;  // the file as it would be with its containers inflated
  bool failed_ = false;
  // The header is filled in at the end. On a pipe it keeps what it had at the first frame: no
  // file size, object count or end time, which python-can's reader does without.
  bool seekable_ = false;
  int write_error_ = 0;  // the reason the last write or seek failed; 0 for none
  // Reused for every container of every file.
  std::unique_ptr<unsigned char[]> container_;
  uint32_t filled_ = 0;
  std::unique_ptr<unsigned char[]> packed_;  // a container object: header, deflated objects
  uint32_t packed_room_ = 0;                 // for the deflated objects
  struct FreeCompressor {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
  };
  std::unique_ptr<libdeflate_compressor, FreeCompressor> compressor_;
};

bool BlfFormat::init() {
  compressor_.reset(libdeflate_alloc_compressor(COMPRESSION_LEVEL));
  if (!compressor_) return false;
  packed_room_ =
      static_cast<uint32_t>(libdeflate_zlib_compress_bound(compressor_.get(), CONTAINER_CAPACITY));
  container_.reset(new (std::nothrow) unsigned char[CONTAINER_CAPACITY]);
  // Three bytes more for the padding after the object.
  packed_.reset(new (std::nothrow) unsigned char[CONTAINER_HEADER_SIZE + packed_room_ + 3]);
  return container_ && packed_;
}

bool BlfFormat::new_file(const TraceFileInfo& /*info*/, ByteStream& out, bool /*continuation*/) {
  // A continued split file is a trace of its own, timed from its own first frame.
  out_ = &out;
  seekable_ = byte_stream_tell(out).value_or(-1) == 0;
  frames_ = 0;
  file_size_ = 0;
  uncompressed_size_ = FILE_HEADER_SIZE;
  filled_ = 0;
  failed_ = false;
  write_error_ = 0;
  return true;
}

bool BlfFormat::write(const unsigned char* bytes, uint32_t count) {
  if (!answered(byte_stream_write(*out_, bytes, count), count)) return false;
  file_size_ += count;
  return true;
}

bool BlfFormat::answered(IoResult done, int64_t expected) {
  write_error_ = done.error();
  return done.ok() && done.value() == expected;
}

bool BlfFormat::fail() {
  DIAG_FAILURE(LOG_ERROR, write_error_, "Could not write CAN data");
  failed_ = true;
  return false;
}

// The file header as python-can writes it: "LOGG", its size, application 5 version 0.0.0,
// format version 2.6.8.1, the file and uncompressed sizes, the object count, a count of
// objects read python-can leaves 0, and the start and end times.
void BlfFormat::fill_file_header(unsigned char* header) const {
  std::memset(header, 0, FILE_HEADER_SIZE);
  std::memcpy(header, FILE_SIGNATURE, sizeof FILE_SIGNATURE);
  put_le32(header + 4, FILE_HEADER_SIZE);
  header[8] = 5;
  header[12] = 2;
  header[13] = 6;
  header[14] = 8;
  header[15] = 1;
  put_le64(header + 16, file_size_);
  put_le64(header + 24, uncompressed_size_);
  put_le32(header + 32, static_cast<uint32_t>(frames_));
  put_system_time(header + 40, start_time_);
  put_system_time(header + 56, end_time_);
}

bool BlfFormat::frame(const CanRecord& record) {
  if (!can_record_is_frame(record)) return true;
  if (failed_) return false;
  if (frames_ == 0) {
    start_time_ = record.timestamp;
    end_time_ = record.timestamp;
    // A placeholder until end_file knows the counts.
    unsigned char header[FILE_HEADER_SIZE];
    fill_file_header(header);
    if (!write(header, FILE_HEADER_SIZE)) return fail();
  }
  // Text logs hold classic frames: each is a CAN_MESSAGE of up to 8 data bytes.
  unsigned char* object = container_.get() + filled_;
  put_base_header(object, OBJECT_HEADER_SIZE, CAN_MESSAGE_SIZE, CAN_MESSAGE);
  put_le32(object + 16, TIME_ONE_NANS);
  put_le32(object + 20, 0);  // client index, object version
  put_le64(object + 24, offset_nanoseconds(record.timestamp - start_time_));
  put_le16(object + 32, CAN_RECORD_BUS);
  object[34] = static_cast<unsigned char>((record.tx != 0 ? TRANSMITTED : 0) |
                                          (record.rtr != 0 ? REMOTE : 0));
  object[35] = record.length;
  put_le32(object + 36, (record.id & 0x1FFFFFFF) | (record.extended != 0 ? EXTENDED_ID : 0));
  std::memset(object + 40, 0, 8);
  auto bytes = static_cast<size_t>(record.data.size() < 8 ? record.data.size() : 8);
  if (bytes != 0) std::memcpy(object + 40, record.data.data(), bytes);
  filled_ += CAN_MESSAGE_SIZE;
  ++frames_;
  end_time_ = record.timestamp;
  if (filled_ == CONTAINER_CAPACITY && !write_container()) return fail();
  return true;
}

// A LOG_CONTAINER: the base header alone (version 1), compression method, 6 bytes
// reserved, the inflated size, 4 reserved, the zlib stream; then object size % 4 zero bytes,
// which is what python-can's reader skips.
bool BlfFormat::write_container() {
  if (filled_ == 0) return true;
  write_error_ = 0;  // a failed compression has no reason of the system's
  // With the bound's room this never fails.
  size_t packed = libdeflate_zlib_compress(compressor_.get(), container_.get(), filled_,
                                           packed_.get() + CONTAINER_HEADER_SIZE, packed_room_);
  if (packed == 0) return false;
  uint32_t object_size = CONTAINER_HEADER_SIZE + static_cast<uint32_t>(packed);
  unsigned char* header = packed_.get();
  std::memset(header, 0, CONTAINER_HEADER_SIZE);
  put_base_header(header, BASE_HEADER_SIZE, object_size, LOG_CONTAINER);
  put_le16(header + 16, ZLIB_DEFLATE);
  put_le32(header + 24, filled_);
  uint32_t padding = object_size % 4;
  std::memset(packed_.get() + object_size, 0, padding);
  if (!write(packed_.get(), object_size + padding)) return false;
  uncompressed_size_ += CONTAINER_HEADER_SIZE + filled_;
  filled_ = 0;
  return true;
}

bool BlfFormat::rewrite_file_header() {
  unsigned char header[FILE_HEADER_SIZE];
  fill_file_header(header);
  auto end = static_cast<int64_t>(file_size_);
  return answered(byte_stream_seek(*out_, 0, SEEK_SET), 0) &&
         answered(byte_stream_write(*out_, header, FILE_HEADER_SIZE), FILE_HEADER_SIZE) &&
         answered(byte_stream_seek(*out_, end, SEEK_SET), end);
}

int64_t BlfFormat::end_file() {
  if (out_ == nullptr) return 0;
  bool whole =
      !failed_ && (frames_ == 0 || (write_container() && (!seekable_ || rewrite_file_header())));
  out_ = nullptr;
  if (whole) return frames_;
  // A failed frame logged its failure already.
  if (!failed_) fail();
  return -1;
}

}  // namespace

std::unique_ptr<TraceSink> blf_format_create() {
  std::unique_ptr<BlfFormat> format(new (std::nothrow) BlfFormat());
  if (!format || !format->init()) return nullptr;
  return format;
}

}  // namespace velmarch
