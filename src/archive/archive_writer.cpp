#include "archive_writer.h"

#include <cstring>

#include "calendar.h"
#include "errors.h"
#include "file_item.h"
#include "format.h"
#include "timestamp.h"

namespace vna {

namespace {

// 0000-01-01 00:00:00 and 9999-12-31 23:59:59 UTC.
constexpr int64_t kEarliestWritable = -62167219200LL * 1000000;
constexpr int64_t kLatestWritable = 253402300799LL * 1000000;

const uint8_t kEndRecord[2] = {format::kMarker, 0};

// Source files are read in pieces this large: each piece is one OS read and
// one pass through the compressor, so small pieces cost calls, not memory.
constexpr std::size_t kCopyBufferSize = 65536;
constexpr std::size_t kMaxRecordHeader =
    1 + 1 + format::kMaxNameField + 1 + format::kMaxTimestampLength + 4;

}  // namespace

int64_t clampToWritableTime(int64_t microseconds) {
  if (microseconds < kEarliestWritable) return kEarliestWritable;
  if (microseconds > kLatestWritable) return kLatestWritable;
  return microseconds;
}

bool ArchiveWriter::isArchive(const FilePath& path, const FileHandle* opened) const {
  if (!archiveKnown_) return false;
  FileIdentity identity;
  bool known = opened != nullptr ? opened->identity(identity) : queryFileIdentity(path, identity);
  return known && identity == archive_;
}

bool ArchiveWriter::writeEntry(const FilePath& path, const char* name, int64_t modificationTime) {
  // The item is looked at afresh: a file through its opened handle (one
  // look serves both the size and the reading), anything else by a lookup.
  std::size_t nameLength = std::strlen(name);
  bool directory = nameLength > 0 && isSeparator(name[nameLength - 1]);
  FileHandle file;
  uint64_t freshSize = 0;
  if (directory) {
    directory = !FileItem(path).isFile();
  } else {
    try {
      file.open(path);
    } catch (const FileIOError& error) {
      // The archive being written is held open for writing, so an open for
      // reading is refused with a sharing violation where sharing is enforced.
      if (error.code() == ERROR_SHARING_VIOLATION && isArchive(path, nullptr)) return false;
      FileItem item(path);  // FileItemError when the item vanished
      if (item.isFile()) throw;
      directory = true;
    }
  }
  if (!directory) {
    if (isArchive(path, &file)) return false;
    freshSize = file.size64();
  }

  std::size_t nameField = std::strlen(name) + 1;
  if (directory) {
    if (nameField < 2 || !isSeparator(name[nameField - 2])) throw ArchiveWriterError();
  }
  if (nameField > format::kMaxNameField) throw ArchiveWriterError();

  char text[format::kMaxTimestampLength];
  DateTime when = DateTime::fromMicroseconds(clampToWritableTime(modificationTime), 0);
  OutputRange out = writeTimestamp(OutputRange{text, text + sizeof text}, when);
  std::size_t textLength = static_cast<std::size_t>(out.next - text);
  if (textLength > format::kMaxTimestampLength) throw ArchiveWriterError();

  uint32_t size = 0;
  if (!directory) {
    if (freshSize > format::kMaxFileSize) throw ArchiveWriterError();
    size = static_cast<uint32_t>(freshSize);
  }

  // The record's fields up to its data go to the compressor in one piece.
  // The record's fields go into the same block as the first piece of data,
  // so that a small file costs one pass through the compressor.
  uint8_t block[kMaxRecordHeader + kCopyBufferSize];
  uint8_t* header = block;
  uint8_t* p = header;
  *p++ = format::kMarker;
  *p++ = static_cast<uint8_t>(nameField);
  std::memcpy(p, name, nameField);
  p += nameField;
  *p++ = static_cast<uint8_t>(textLength);
  std::memcpy(p, text, textLength);
  p += textLength;
  format::encodeLittleEndian32(size, p);
  p += 4;
  if (directory || size == 0) {
    write(ConstByteRange(header, p));
  } else {
    copyData(file, size, header, p);
  }
  return true;
}

void ArchiveWriter::copyData(const FileHandle& file, uint32_t size, const uint8_t* header,
                             uint8_t* data) {
  // Exactly `size` bytes go in, whatever the file's length is by now: a
  // record whose data and size field disagree would make the archive
  // unreadable from there on. The record's fields before `data` go out with
  // the first piece.
  uint32_t left = size;
  const uint8_t* from = header;
  try {
    FileReadingLoop loop;
    loop.start(data, data + kCopyBufferSize, file, 0, size);
    while (left > 0 && loop.remaining() != 0) {
      std::size_t chunk = static_cast<std::size_t>(loop.chunkEnd() - loop.chunkBegin());
      if (chunk > left) chunk = left;
      write(ConstByteRange(from, loop.chunkBegin() + chunk));
      from = data;
      left -= static_cast<uint32_t>(chunk);
      if (left > 0) loop.advance();
    }
  } catch (const FileReadingLoopEndOfFileError&) {
    throw ArchiveWriterError();
  }
  if (left > 0) throw ArchiveWriterError();
}

void ArchiveWriter::finishArchive() {
  write(ConstByteRange(kEndRecord, kEndRecord + 2));
  finish();
}

}  // namespace vna
