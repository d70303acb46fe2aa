#include "archive/format/entry_record.h"

#include <cstring>

#include "base/errors.h"

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

}  // namespace vna::record
