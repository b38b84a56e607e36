#pragma once

#include <memory>

#include "convert/trace_sink.h"

namespace velmarch {

/// Wireshark's pcapng, ".pcapng", little-endian: a section header, one interface "can0" of
/// link type LINKTYPE_CAN_SOCKETCAN timed in nanoseconds, then an enhanced packet per frame
/// holding the 16-byte SocketCAN frame and its direction. Nothing is written until the first
/// frame.
class PcapngFormat final : public TraceSink {
 public:
  StrView extension() const override { return ".pcapng"; }
  bool new_file(const TraceFileInfo& info, ByteStream& out, bool continuation) override;
  bool frame(const CanRecord& record) override;
  int64_t end_file() override;
  std::unique_ptr<TraceSink> another() const override;

 private:
  friend std::unique_ptr<TraceSink> pcapng_format_create();
  PcapngFormat() = default;

  ByteStream* out_ = nullptr;  // borrowed, from new_file to end_file
  int64_t frames_ = 0;
  bool failed_ = false;  // the header or a packet did not go out whole
};

/// Null when memory runs out.
std::unique_ptr<TraceSink> pcapng_format_create();

inline constexpr int PCAPNG_HEADER_SIZE = 68;  // the section header and the interface
inline constexpr int PCAPNG_PACKET_SIZE = 60;  // one enhanced packet block

/// The section header and interface description blocks every file starts with.
void pcapng_put_header(unsigned char (&out)[PCAPNG_HEADER_SIZE]);
/// The enhanced packet block of one frame.
void pcapng_put_packet(unsigned char (&out)[PCAPNG_PACKET_SIZE], const CanRecord& record);

}  // namespace velmarch
