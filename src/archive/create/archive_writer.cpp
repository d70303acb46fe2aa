#include "archive/create/archive_writer.h"

#include <cstring>

#include "archive/format/entry_record.h"
#include "archive/format/format.h"
#include "fs/errors.h"
#include "fs/file_item.h"
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

bool ArchiveWriter::isArchive(const FilePath& path, const FileHandle* opened) const {
  if (archiveCount_ == 0) return false;
  FileIdentity identity;
  bool known = opened != nullptr ? opened->identity(identity) : queryFileIdentity(path, identity);
  if (!known) return false;
  for (int i = 0; i < archiveCount_; ++i) {
    if (identity == archive_[i]) return true;
  }
  return false;
}

bool ArchiveWriter::liesBelowSource(const FileHandle& file) const {
  // Asked of the open handle, so the answer is about the very file that is
  // read, whatever happens to the link meanwhile.
  std::string reached = file.finalPath();
  const std::string& root = sourceRoot_;
  if (root.empty() || reached.size() <= root.size() ||
      reached.compare(0, root.size(), root) != 0) {
    return false;
  }
  char last = root.back();
  return last == '/' || last == '\\' || reached[root.size()] == '/' ||
         reached[root.size()] == '\\';
}

ArchiveWriter::Entry ArchiveWriter::writeEntry(const FilePath& path, const char* name,
                                               int64_t modificationTime, Listed listed) {
  const bool listedAsDirectory = listed == Listed::Directory;
  // The item is looked at afresh and stored as what it is now: a file
  // through its opened handle (one look serves both the size and the
  // reading), a directory by a lookup. The listing's word only says which
  // look to try first.
  FileHandle file;
  bool directory = false;
  if (listedAsDirectory) {
    FileItem item;
    if (!item.lookup(path)) return Entry::Skipped;
    directory = item.isDirectory();
  }
  if (!directory) {
    try {
      file.open(path);
    } catch (const FileIOError& error) {
      // The archive being written is held open for writing, so an open for
      // reading is refused with a sharing violation where sharing is enforced.
      if (error.isSharingViolation() && isArchive(path, nullptr)) return Entry::IsTheArchive;
      FileItem item;
      if (listedAsDirectory || !item.lookup(path) || !item.isDirectory()) return Entry::Skipped;
      directory = true;  // a directory now, where a file was listed
    }
  }
  uint64_t freshSize = 0;
  if (!directory) {
    if (isArchive(path, &file)) return Entry::IsTheArchive;
    // A pipe or device would be stored as an empty file, or read for ever.
    if (!file.isDiskFile()) return Entry::Skipped;
    if (listed == Listed::LinkToFile && !liesBelowSource(file)) return Entry::Skipped;
    freshSize = file.size64();
    if (freshSize > format::kMaxFileSize) throw ArchiveWriterError();
  }

  char text[format::kMaxTimestampLength];
  DateTime when = DateTime::fromMicroseconds(clampToWritableTime(modificationTime), 0);
  OutputRange out = writeTimestamp(OutputRange{text, text + sizeof text}, when);
  std::size_t textLength = static_cast<std::size_t>(out.next - text);

  uint32_t size = static_cast<uint32_t>(freshSize);
  uint8_t header[record::kMaxHeaderLength];
  write(ConstByteRange(header, header + record::encodeEntryHeader(name, directory, text, textLength,
                                                                  size, header)));
  if (directory) return Entry::WrittenDirectory;
  if (size > 0) copyData(file, size);
  return Entry::WrittenFile;
}

void ArchiveWriter::copyData(const FileHandle& file, uint32_t size) {
  // Exactly `size` bytes go in, whatever the file's length is by now: a
  // record whose data and size field disagree would make the archive
  // unreadable from there on. The file is read straight into the
  // compressor's input block, beside the records before it: a piece ends
  // where the file or the block does.
  FileReader reader;
  reader.attach(file, 0, size);
  uint32_t left = size;
  while (left > 0) {
    ByteRange room = stageRoom();
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
    reader.readSome(room);
    std::size_t got = static_cast<std::size_t>(room.begin - start);
    // A file that shrank since its size was taken gives nothing more.
    if (got == 0) throw ArchiveWriterError();
    commit(got);
    left -= static_cast<uint32_t>(got);
  }
}

void ArchiveWriter::finishArchive() {
  write(ConstByteRange(record::kEndRecord, record::kEndRecord + 2));
  finish();
}

}  // namespace vna
