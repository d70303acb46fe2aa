// The compressed stream writer with entry records on top.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "archive/stream/compressed_writer.h"
#include "fs/file_path.h"
#include "fs/file_streams.h"

namespace vna {

class ArchiveWriter : public CompressedStreamWriter {
 public:
  explicit ArchiveWriter(WritableFileHandle& file,
                         unsigned workers = BlockDeflater::availableWorkers())
      : CompressedStreamWriter(file, workers) {}

  // A file that is never read into the archive: the archive being written,
  // and the earlier file it will replace. Up to two are kept.
  void addArchiveIdentity(const FileIdentity& identity) {
    if (archiveCount_ < 2) archive_[archiveCount_++] = identity;
  }

  // The source directory as the OS resolves it (FileHandle::finalPath's
  // form): a link to a file is stored only when the file lies below it.
  void setSourceRoot(std::string root) { sourceRoot_ = std::move(root); }

  enum class Entry { WrittenFile, WrittenDirectory, IsTheArchive, Skipped };
  // How the listing showed the item: the look tried first, and whether the
  // name is a link whose file must lie below the source root.
  enum class Listed { File, Directory, LinkToFile };
  // Writes one record for the item at `path`, stored under `name` (relative,
  // "\" between levels, no trailing separator), `modificationTime` in
  // microseconds since 1970 UTC. The item is looked at afresh and stored as
  // what it is at that look (a directory's name gets its "\"). Nothing is
  // written when the item is the archive itself (IsTheArchive) or cannot be
  // stored (Skipped): a file that cannot be opened (unreadable, held without
  // read sharing, vanished), a pipe or device, a link whose file does not
  // lie below the source root (or cannot be resolved), anything that is
  // neither file nor directory now. ArchiveWriterError for a name of more
  // than 254 bytes (a directory's "\" counted), a file of 0xFFFFFFFF bytes
  // or more, or a file that delivers fewer bytes than its size; the read
  // errors of the file; the stream writer's errors.
  Entry writeEntry(const FilePath& path, const char* name, int64_t modificationTime,
                   Listed listed = Listed::File);
  // The end record, then the end of the stream.
  void finishArchive();

 private:
  bool isArchive(const FilePath& path, const FileHandle* opened) const;
  void copyData(const FileHandle& file, uint32_t size);

  bool liesBelowSource(const FileHandle& file) const;

  std::string sourceRoot_;
  FileIdentity archive_[2];
  int archiveCount_ = 0;
};

// Modification times outside the years 0 to 9999 cannot be read back from
// timestamp text; they are written as the nearest representable second.
int64_t clampToWritableTime(int64_t microseconds);

}  // namespace vna
