// The archive format, shared by writer and reader: a 12-byte header (magic,
// filler byte, CRC-32/BZIP2 check value most significant byte first), then
// one zlib stream of entry records closed by the end record. The records
// themselves are laid out, encoded and decoded in entry_record.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/errors.h"

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

// The zlib wrapper around the deflate data, which this program writes and
// checks itself (zlib is driven in raw mode, see adler32.h): two header
// bytes, then after the deflate data the Adler-32 of the uncompressed bytes,
// most significant byte first. Level 6 with a 32 KiB window writes 78 9C.
constexpr uint8_t kZlibHeader[2] = {0x78, 0x9C};
constexpr std::size_t kZlibTrailerLength = 4;
constexpr int kRawWindowBits = -15;

// What zlib's inflate accepts as a header: deflate, a window of at most
// 32 KiB, the check bits right and no preset dictionary.
inline bool acceptableZlibHeader(const uint8_t* h) {
  return (h[0] & 0x0F) == 8 && (h[0] >> 4) <= 7 && ((h[0] << 8) | h[1]) % 31 == 0 &&
         (h[1] & 0x20) == 0;
}

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

// The 12-byte header: the magic, a filler byte (written 0, read as
// anything) and the check value, most significant byte first.
enum class Body { kCompressed, kStored, kUnknown };
struct Header {
  Body body = Body::kUnknown;
  uint32_t check = 0;
};

inline void encodeHeader(uint32_t check, uint8_t* out) {
  for (std::size_t i = 0; i < kMagicLength; ++i) out[i] = static_cast<uint8_t>(kCompressedMagic[i]);
  out[kMagicLength] = 0;
  encodeBigEndian32(check, out + kCheckValueOffset, kHeaderLength - kCheckValueOffset);
}

// The magic is compared byte for byte, letter case included.
inline Header decodeHeader(const uint8_t* in) {
  auto is = [in](const char* magic) {
    for (std::size_t i = 0; i < kMagicLength; ++i) {
      if (in[i] != static_cast<uint8_t>(magic[i])) return false;
    }
    return true;
  };
  Header header;
  header.body = is(kCompressedMagic) ? Body::kCompressed
                : is(kStoredMagic)   ? Body::kStored
                                     : Body::kUnknown;
  header.check = decodeBigEndian32(in + kCheckValueOffset);
  return header;
}

}  // namespace vna::format
