#include "archive/create/archive_writer.h"

#include <cstring>

#include "archive/format/entry_record.h"
#include "archive/format/format.h"
#include "fs/file_reader.h"
#include "base/errors.h"
#include "text/calendar.h"
#include "text/timestamp.h"

namespace vna {

namespace {

// 0000-01-01 00:00:00 and 9999-12-31 23:59:59 UTC.
constexpr int64_t kEarliestWritable = -62167219200LL * 1000000;
constexpr int64_t kLatestWritable = 253402300799LL * 1000000;

}  // namespace

int64_t clampToWritableTime(int64_t microseconds) {
  if (microseconds < kEarliestWritable) return kEarliestWritable;
  if (microseconds > kLatestWritable) return kLatestWritable;
  return microseconds;
}

bool ArchiveWriter::isArchive(const FileIdentity& identity) const {
  for (int i = 0; i < archiveCount_; ++i) {
    if (identity == archive_[i]) return true;
  }
  return false;
}

ArchiveWriter::Entry ArchiveWriter::writeFile(const FileHandle& file, const char* name,
                                              int64_t modificationTime) {
  FileIdentity identity;
  if (archiveCount_ > 0 && file.identity(identity) && isArchive(identity)) {
    return Entry::IsTheArchive;
  }
  // A pipe or device would be stored as an empty file, or read for ever.
  if (!file.isDiskFile()) return Entry::Skipped;
  uint64_t size = file.size64();
  if (size > format::kMaxFileSize) throw ArchiveWriterError();
  writeHeader(name, false, modificationTime, static_cast<uint32_t>(size));
  if (size > 0 && !copyData(file, static_cast<uint32_t>(size))) return Entry::WrittenIncomplete;
  return Entry::WrittenFile;
}

void ArchiveWriter::writeDirectory(const char* name, int64_t modificationTime) {
  writeHeader(name, true, modificationTime, 0);
}

void ArchiveWriter::writeHeader(const char* name, bool directory, int64_t modificationTime,
                                uint32_t size) {
  char text[format::kMaxTimestampLength];
  DateTime when = DateTime::fromMicroseconds(clampToWritableTime(modificationTime), 0);
  OutputRange out = writeTimestamp(OutputRange{text, text + sizeof text}, when);
  std::size_t textLength = static_cast<std::size_t>(out.next - text);
  uint8_t header[record::kMaxHeaderLength];
  stream_.write(ConstByteRange(header, header + record::encodeEntryHeader(name, directory, text, textLength,
                                                                  size, header)));
}

bool ArchiveWriter::copyData(const FileHandle& file, uint32_t size) {
  // Exactly `size` bytes go in, whatever the file's length is by now: a
  // record whose data and size field disagree would make the archive
  // unreadable from there on. The file is read straight into the
  // compressor's input block, beside the records before it: a piece ends
  // where the file or the block does.
  FileReader reader;
  reader.attach(file, 0, size);
  uint32_t left = size;
  bool whole = true;
  while (left > 0) {
    ByteRange room = stream_.stageRoom();
    if (room.length() > left) room.end = room.begin + left;
    // No piece reaches past the last position a read can start at, so a
    // file too large for that fails at the read that would pass it, wherever
    // its pieces happen to fall.
    uint32_t position = reader.position();
    if (position < kFirstUnreachablePosition &&
        room.length() > kFirstUnreachablePosition - position) {
      room.end = room.begin + (kFirstUnreachablePosition - position);
    }
    uint8_t* start = room.begin;
    if (whole) {
      try {
        reader.readSome(room);
      } catch (const FileSeekError&) {
        throw;
      } catch (const FileIOError&) {
        // Another user's file that fails to read ends its own entry, not
        // the whole backup.
        whole = false;
      }
    }
    std::size_t got = static_cast<std::size_t>(room.begin - start);
    if (got == 0) {
      // A file that shrank since its size was taken (or failed) is
      // completed with zeros, so the archive stays readable past it.
      whole = false;
      got = room.length();
      std::memset(start, 0, got);
    }
    stream_.commit(got);
    left -= static_cast<uint32_t>(got);
  }
  return whole;
}

void ArchiveWriter::finishArchive() {
  stream_.write(ConstByteRange(record::kEndRecord, record::kEndRecord + 2));
  stream_.finish();
}

}  // namespace vna
