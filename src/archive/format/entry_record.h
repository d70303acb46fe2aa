// The entry record, in one place: its layout, its encoding (the archive
// writer) and its field-by-field decoding (the extractor).
//
//   '_'  name length L (1..255, the NUL counted)  name + NUL
//   timestamp length T (1..255)  timestamp text  size (4 bytes, least
//   significant first)  data (files only)
//
// A directory's name ends in "\"; the end record is '_', 0.
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive/format/format.h"
#include "base/byte_range.h"
#include "base/errors.h"

namespace vna::record {

constexpr std::size_t kMaxHeaderLength =
    1 + 1 + format::kMaxNameField + 1 + format::kMaxTimestampLength + 4;
constexpr uint8_t kEndRecord[2] = {format::kMarker, 0};

// Encodes the fields before an entry's data into `out` (room for
// kMaxHeaderLength bytes) and returns their length. A directory's name gets
// its trailing "\" here. ArchiveWriterError when the name field (with the
// separator of a directory and the NUL) passes 255 bytes or the timestamp
// text is empty or passes 255 bytes.
std::size_t encodeEntryHeader(const char* name, bool directory, const char* timestamp,
                              std::size_t timestampLength, uint32_t size, uint8_t* out);

// One entry's fields as read back.
struct EntryFields {
  char name[format::kMaxNameField + 1];  // NUL-terminated
  uint8_t timestamp[format::kMaxTimestampLength];
  uint8_t timestampLength = 0;
  uint32_t size = 0;
};

// Reads the next record's fields from `reader` (anything with the archive
// reader's read(ByteRange), so the record layout does not depend on the
// stream). False at the end record (its two bytes consumed, nothing after
// them read); FormatError for a marker other than '_' or a timestamp length
// of 0; the reader's errors.
template <class Reader>
bool readEntryFields(Reader& reader, EntryFields& out) {
  auto readByte = [&reader] {
    uint8_t byte;
    reader.read(ByteRange{&byte, &byte + 1});
    return byte;
  };
  if (readByte() != format::kMarker) throw FormatError();
  uint8_t nameLength = readByte();
  if (nameLength == 0) return false;
  uint8_t* name = reinterpret_cast<uint8_t*>(out.name);
  reader.read(ByteRange{name, name + nameLength});
  // Used as a NUL-terminated text: anything from an embedded NUL on is
  // ignored, as the writer counts its own NUL in the length.
  out.name[nameLength] = '\0';
  out.timestampLength = readByte();
  if (out.timestampLength == 0) throw FormatError();
  reader.read(ByteRange{out.timestamp, out.timestamp + out.timestampLength});
  uint8_t size[4];
  reader.read(ByteRange{size, size + 4});
  out.size = format::decodeLittleEndian32(size);
  return true;
}

}  // namespace vna::record
