// The "-a" command: pack a file or a directory tree into an archive.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/create/archive_writer.h"
#include "fs/file_path.h"
#include "fs/file_handle.h"
#include "platform/held_directory.h"

namespace vna {

// Packs `source` into a new archive at `archive` (both absolute). Throws
// ExceptionPL when the source is missing, is neither file nor directory, or
// is the archive path itself; ExceptionPL "Some files or directories could
// not be archived." after finishing a valid archive from which something
// had to be left out; any other error as raised.
void createArchive(const FilePath& source, const FilePath& archive);

// The walk of a source directory. Every directory of the source is held
// while its entries are listed and read, each reached from its parent's
// held directory and never through a link, and every item is opened by its
// name in its directory: whatever another process renames or replaces
// meanwhile, nothing outside the source is opened or read.
class SourceWalk {
 public:
  // Walks below `root`, the held source directory, into `writer`; a link is
  // stored only when its file lies below `root`.
  SourceWalk(ArchiveWriter& writer, const platform::HeldDirectory& root);

  // Writes entries for everything in `directory`, depth-first, each
  // directory's entry before its contents, names after `prefix`.
  void walk(const platform::HeldDirectory& directory, const std::string& prefix);
  // Stores the item `leaf` of `directory` under `name` as what it is now,
  // whatever the listing said (`listedDirectory`); a directory's contents
  // follow its entry. Skipped for what cannot be stored faithfully: a link
  // to a directory, a link whose file does not lie below the source (or
  // leads nowhere), a pipe or device, a file that cannot be opened, a
  // directory that is its own ancestor.
  ArchiveWriter::Entry store(const platform::HeldDirectory& directory, const char* leaf,
                             const std::string& name, int64_t modificationTime,
                             bool listedDirectory);
  // Whether anything was left out so far (including what `store` skipped
  // and directories that could not be listed fully).
  bool skipped() const { return skipped_; }

 private:
  ArchiveWriter::Entry storeDirectory(const platform::HeldDirectory& directory, const char* leaf,
                                      const std::string& name, int64_t modificationTime,
                                      bool& absent);
  ArchiveWriter::Entry storeFile(const platform::HeldDirectory& directory, const char* leaf,
                                 const std::string& name, int64_t modificationTime);
  bool liesBelowSource(const FileHandle& file) const;

  ArchiveWriter& writer_;
  const platform::HeldDirectory& root_;
  // The source as the OS resolves it (FileHandle::finalPath's form).
  std::string rootPath_;
  std::vector<FileIdentity> ancestors_;
  bool skipped_ = false;
};

}  // namespace vna
