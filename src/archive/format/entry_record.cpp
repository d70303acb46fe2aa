#include "archive/format/entry_record.h"

#include <cstring>

#include "fs/errors.h"

namespace vna::record {

std::size_t encodeEntryHeader(const char* name, bool directory, const char* timestamp,
                              std::size_t timestampLength, uint32_t size, uint8_t* out) {
  std::size_t nameLength = std::strlen(name);
  std::size_t nameField = nameLength + (directory ? 1 : 0) + 1;
  if (nameField > format::kMaxNameField) throw ArchiveWriterError();
  if (timestampLength == 0 || timestampLength > format::kMaxTimestampLength) {
    throw ArchiveWriterError();
  }
  uint8_t* p = out;
  *p++ = format::kMarker;
  *p++ = static_cast<uint8_t>(nameField);
  std::memcpy(p, name, nameLength);
  p += nameLength;
  if (directory) *p++ = '\\';
  *p++ = '\0';
  *p++ = static_cast<uint8_t>(timestampLength);
  std::memcpy(p, timestamp, timestampLength);
  p += timestampLength;
  format::encodeLittleEndian32(directory ? 0 : size, p);
  p += 4;
  return static_cast<std::size_t>(p - out);
}

namespace {

uint8_t readByte(CompressedStreamReader& reader) {
  uint8_t byte;
  reader.read(ByteRange{&byte, &byte + 1});
  return byte;
}

}  // namespace

bool readEntryFields(CompressedStreamReader& reader, EntryFields& out) {
  if (readByte(reader) != format::kMarker) throw FormatError();
  uint8_t nameLength = readByte(reader);
  if (nameLength == 0) return false;
  uint8_t* name = reinterpret_cast<uint8_t*>(out.name);
  reader.read(ByteRange{name, name + nameLength});
  // Used as a NUL-terminated text: anything from an embedded NUL on is
  // ignored, as the writer counts its own NUL in the length.
  out.name[nameLength] = '\0';
  out.timestampLength = readByte(reader);
  if (out.timestampLength == 0) throw FormatError();
  reader.read(ByteRange{out.timestamp, out.timestamp + out.timestampLength});
  uint8_t size[4];
  reader.read(ByteRange{size, size + 4});
  out.size = format::decodeLittleEndian32(size);
  return true;
}

}  // namespace vna::record
