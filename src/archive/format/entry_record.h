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

#include "archive/stream/compressed_reader.h"
#include "archive/format/format.h"

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

// Reads the next record's fields. False at the end record (its two bytes
// consumed, nothing after them read); FormatError for a marker other than
// '_' or a timestamp length of 0; the reader's errors.
bool readEntryFields(CompressedStreamReader& reader, EntryFields& out);

}  // namespace vna::record
