#include "formats/pcapng_format.h"

#include <cstring>
#include <new>

#include "diag/log.h"
#include "formats/format_text.h"

namespace velmarch {

namespace {

constexpr uint32_t SECTION_HEADER = 0x0A0D0D0A;
constexpr uint32_t BYTE_ORDER_MAGIC = 0x1A2B3C4D;
constexpr uint32_t INTERFACE_DESCRIPTION = 1;
constexpr uint32_t ENHANCED_PACKET = 6;
constexpr uint16_t LINKTYPE_CAN_SOCKETCAN = 227;
constexpr uint16_t OPTION_END = 0;
constexpr uint16_t IF_NAME = 2;
constexpr unsigned char INTERFACE_NAME[4] = {'c', 'a', 'n', '0'};
constexpr uint16_t IF_TSRESOL = 9;
constexpr uint8_t NANOSECONDS = 9;  // 10^-9 s
constexpr uint16_t EPB_FLAGS = 2;
constexpr uint32_t INBOUND = 1;
constexpr uint32_t OUTBOUND = 2;
constexpr uint32_t SECTION_HEADER_SIZE = 28;
constexpr uint32_t INTERFACE_SIZE = 40;
constexpr uint32_t SOCKETCAN_FRAME_SIZE = 16;
constexpr uint32_t CAN_EFF_FLAG = 0x80000000;
constexpr uint32_t CAN_RTR_FLAG = 0x40000000;

static_assert(SECTION_HEADER_SIZE + INTERFACE_SIZE == PCAPNG_HEADER_SIZE);

// SocketCAN's identifier word goes in network byte order.
unsigned char* put32_big_endian(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (24 - 8 * i));
  return p + 4;
}

}  // namespace

void pcapng_put_header(unsigned char (&out)[PCAPNG_HEADER_SIZE]) {
  std::memset(out, 0, sizeof out);
  unsigned char* p = put_le32(out, SECTION_HEADER);
  p = put_le32(p, SECTION_HEADER_SIZE);
  p = put_le32(p, BYTE_ORDER_MAGIC);
  p = put_le16(p, 1);  // version 1.0
  p = put_le16(p, 0);
  p = put_le32(put_le32(p, 0xFFFFFFFF), 0xFFFFFFFF);  // section length: not given
  p = put_le32(p, SECTION_HEADER_SIZE);

  p = put_le32(p, INTERFACE_DESCRIPTION);
  p = put_le32(p, INTERFACE_SIZE);
  p = put_le16(p, LINKTYPE_CAN_SOCKETCAN);
  p = put_le16(p, 0);
  p = put_le32(p, SOCKETCAN_FRAME_SIZE);  // snap length: every packet is one whole frame
  p = put_le16(put_le16(p, IF_NAME), sizeof INTERFACE_NAME);
  std::memcpy(p, INTERFACE_NAME, sizeof INTERFACE_NAME);
  p = put_le16(put_le16(p + 4, IF_TSRESOL), 1);
  *p = NANOSECONDS;
  p = put_le32(p + 4, OPTION_END);  // the value's byte and three of padding
  put_le32(p, INTERFACE_SIZE);
}

void pcapng_put_packet(unsigned char (&out)[PCAPNG_PACKET_SIZE], const CanRecord& record) {
  std::memset(out, 0, sizeof out);
  uint64_t nanoseconds = static_cast<uint64_t>(whole_milliseconds(record.timestamp)) * 1000000;
  unsigned char* p = put_le32(out, ENHANCED_PACKET);
  p = put_le32(p, PCAPNG_PACKET_SIZE);
  p = put_le32(p, 0);  // interface 0
  p = put_le32(p, static_cast<uint32_t>(nanoseconds >> 32));
  p = put_le32(p, static_cast<uint32_t>(nanoseconds));
  p = put_le32(p, SOCKETCAN_FRAME_SIZE);  // captured
  p = put_le32(p, SOCKETCAN_FRAME_SIZE);  // on the wire

  uint32_t id = socketcan_id(record);
  if (record.extended == 1) id |= CAN_EFF_FLAG;
  if (record.rtr != 0) id |= CAN_RTR_FLAG;
  p = put32_big_endian(p, id);
  int count = record.rtr != 0 ? 0 : data_count(record);
  *p = static_cast<unsigned char>(record.rtr != 0 ? remote_length(record) : count);
  p += 4;  // the length, then padding and two reserved bytes
  std::memcpy(p, record.data.data(), static_cast<size_t>(count));
  p += 8;

  p = put_le16(put_le16(p, EPB_FLAGS), 4);
  p = put_le32(p, record.tx != 0 ? OUTBOUND : INBOUND);
  p = put_le32(p, OPTION_END);
  put_le32(p, PCAPNG_PACKET_SIZE);
}

std::unique_ptr<TraceSink> pcapng_format_create() {
  return std::unique_ptr<TraceSink>(new (std::nothrow) PcapngFormat);
}

std::unique_ptr<TraceSink> PcapngFormat::another() const { return pcapng_format_create(); }

bool PcapngFormat::new_file(const TraceFileInfo& /*info*/, ByteStream& out, bool /*continuation*/) {
  out_ = &out;
  frames_ = 0;
  failed_ = false;
  return true;
}

bool PcapngFormat::frame(const CanRecord& record) {
  if (!can_record_is_frame(record)) return true;
  if (out_ == nullptr) return false;
  if (frames_ == 0) {
    unsigned char header[PCAPNG_HEADER_SIZE];
    pcapng_put_header(header);
    Status written = write_whole(*out_, header, sizeof header);
    if (!written.ok()) {
      DIAG_FAILURE(LOG_ERROR, written.error(), "Could not write CAN header");
      failed_ = true;
      return false;
    }
  }
  unsigned char packet[PCAPNG_PACKET_SIZE];
  pcapng_put_packet(packet, record);
  Status written = write_whole(*out_, packet, sizeof packet);
  if (!written.ok()) {
    DIAG_FAILURE(LOG_ERROR, written.error(), "Could not write CAN data");
    failed_ = true;
    return false;
  }
  ++frames_;
  return true;
}

int64_t PcapngFormat::end_file() {
  out_ = nullptr;
  return failed_ ? -1 : frames_;
}

}  // namespace velmarch
