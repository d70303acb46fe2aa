// The archive format, shared by writer and reader: a 12-byte header (magic,
// filler byte, CRC-32/BZIP2 check value most significant byte first), then
// one zlib stream of entry records closed by the end record.
//
// Entry record: '_', name length L (1..255, the NUL counted), name + NUL,
// timestamp length T (1..255), timestamp text, size (4 bytes, least
// significant first), data. End record: '_', 0.
#pragma once

#include <cstddef>
#include <cstdint>

#include "errors.h"

namespace vna::format {

constexpr char kCompressedMagic[] = "##SC001";  // written and read
constexpr char kStoredMagic[] = "##SN001";      // read only
constexpr std::size_t kMagicLength = 7;
constexpr std::size_t kHeaderLength = 12;
constexpr std::size_t kCheckValueOffset = 8;
constexpr uint8_t kMarker = 0x5F;
constexpr std::size_t kMaxNameField = 255;       // name bytes + NUL
constexpr std::size_t kMaxTimestampLength = 255;
constexpr uint64_t kMaxFileSize = 0xFFFFFFFEu;
constexpr std::size_t kStreamBufferSize = 32768;

// Big-endian 32-bit value into [out, out + room); DataTooSmall if room < 4.
inline void encodeBigEndian32(uint32_t value, uint8_t* out, std::size_t room) {
  if (room < 4) throw DataTooSmall();
  out[0] = static_cast<uint8_t>(value >> 24);
  out[1] = static_cast<uint8_t>(value >> 16);
  out[2] = static_cast<uint8_t>(value >> 8);
  out[3] = static_cast<uint8_t>(value);
}

inline uint32_t decodeBigEndian32(const uint8_t* in) {
  return (static_cast<uint32_t>(in[0]) << 24) | (static_cast<uint32_t>(in[1]) << 16) |
         (static_cast<uint32_t>(in[2]) << 8) | in[3];
}

inline void encodeLittleEndian32(uint32_t value, uint8_t* out) {
  out[0] = static_cast<uint8_t>(value);
  out[1] = static_cast<uint8_t>(value >> 8);
  out[2] = static_cast<uint8_t>(value >> 16);
  out[3] = static_cast<uint8_t>(value >> 24);
}

inline uint32_t decodeLittleEndian32(const uint8_t* in) {
  return in[0] | (static_cast<uint32_t>(in[1]) << 8) | (static_cast<uint32_t>(in[2]) << 16) |
         (static_cast<uint32_t>(in[3]) << 24);
}

}  // namespace vna::format
