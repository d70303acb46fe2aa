// Entry records on top of the compressed stream writer: the only bytes it
// lets into the stream are whole records and the end record.
#pragma once

#include <cstdint>

#include "archive/stream/compressed_writer.h"
#include "fs/file_path.h"
#include "fs/file_handle.h"

namespace vna {

class ArchiveWriter {
 public:
  explicit ArchiveWriter(WritableFileHandle& file,
                         unsigned workers = BlockDeflater::availableWorkers())
      : stream_(file, workers) {}

  // A file that is never read into the archive: the archive being written,
  // and the earlier file it will replace. Up to two are kept.
  void addArchiveIdentity(const FileIdentity& identity) {
    if (archiveCount_ < 2) archive_[archiveCount_++] = identity;
  }

  // Whether `identity` is one of the files above.
  bool isArchive(const FileIdentity& identity) const;

  // WrittenIncomplete: a file that delivered fewer bytes than its size, or
  // failed to read, is stored with zero bytes up to that size.
  enum class Entry { WrittenFile, WrittenIncomplete, WrittenDirectory, IsTheArchive, Skipped };
  // Writes one record for the opened `file`, stored under `name` (relative,
  // "\" between levels), `modificationTime` in microseconds since 1970 UTC,
  // with the size the open file has now and exactly that many bytes, read
  // or zero. Nothing is written when the file is the archive itself
  // (IsTheArchive) or not a file on a disk (a pipe or device: Skipped).
  // ArchiveWriterError for a name of more than 254 bytes or a file of
  // 0xFFFFFFFF bytes or more; FileSeekError for a file that reaches past
  // the last readable position; the stream writer's errors.
  Entry writeFile(const FileHandle& file, const char* name, int64_t modificationTime);
  // Writes one directory record; `name` gets its trailing "\" here
  // (ArchiveWriterError when that passes 254 bytes).
  void writeDirectory(const char* name, int64_t modificationTime);
  // The end record, then the end of the stream.
  void finishArchive();

 private:
  void writeHeader(const char* name, bool directory, int64_t modificationTime, uint32_t size);
  // False when the file ended early or failed to read.
  bool copyData(const FileHandle& file, uint32_t size);

  CompressedStreamWriter stream_;
  FileIdentity archive_[2];
  int archiveCount_ = 0;
};

// Modification times outside the years 0 to 9999 cannot be read back from
// timestamp text; they are written as the nearest representable second.
int64_t clampToWritableTime(int64_t microseconds);

}  // namespace vna
