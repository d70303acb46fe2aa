// The compressed stream writer with entry records on top.
#pragma once

#include <cstdint>

#include "archive/compressed_writer.h"
#include "fs/file_path.h"
#include "fs/file_streams.h"

namespace vna {

class ArchiveWriter : public CompressedStreamWriter {
 public:
  explicit ArchiveWriter(WritableFileHandle& file) : CompressedStreamWriter(file) {}

  // The archive file itself; an entry that turns out to be this file is
  // never read into the archive.
  void setArchiveIdentity(const FileIdentity& identity) {
    archive_ = identity;
    archiveKnown_ = true;
  }

  enum class Entry { Written, IsTheArchive, Skipped };
  // Writes one record for the item at `path`: `name` (a directory's ends in
  // a separator), `modificationTime` in microseconds since 1970 UTC. The
  // item is looked at afresh and nothing is written when it is the archive
  // itself (IsTheArchive) or cannot be stored faithfully (Skipped): a file
  // that cannot be opened (unreadable, held without read sharing, vanished)
  // or an item that is no longer of the kind it was listed as.
  // ArchiveWriterError for a name of more than 254 bytes, a file of
  // 0xFFFFFFFF bytes or more, or a file that delivers fewer bytes than its
  // size; the read errors of the file; the stream writer's errors.
  Entry writeEntry(const FilePath& path, const char* name, int64_t modificationTime);
  // The end record, then the end of the stream.
  void finishArchive();

 private:
  bool isArchive(const FilePath& path, const FileHandle* opened) const;
  void copyData(const FileHandle& file, uint32_t size);

  FileIdentity archive_;
  bool archiveKnown_ = false;
};

// Modification times outside the years 0 to 9999 cannot be read back from
// timestamp text; they are written as the nearest representable second.
int64_t clampToWritableTime(int64_t microseconds);

}  // namespace vna
