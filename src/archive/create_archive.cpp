#include "create_archive.h"

#include <cstring>

#include "errors.h"
#include "file_item.h"
#include "file_streams.h"
#include "fs_ops.h"
#include "target_paths.h"

namespace vna {

namespace {

bool isDotName(const char* name) {
  return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

bool sameFile(const FilePath& a, const FilePath& b) {
  FileIdentity first;
  FileIdentity second;
  return queryFileIdentity(a, first) && queryFileIdentity(b, second) && first == second;
}

}  // namespace

void writeDirectoryTree(ArchiveWriter& writer, const FilePath& directory,
                        const std::string& prefix, bool& skipped) {
  DirectoryIterator entries;
  entries.open(directory);
  for (; entries.isValid(); entries.next()) {
    const FileItem& item = entries.item();
    if (item.isFile()) {
      std::string name = prefix + item.fileName();
      writer.writeEntry(item.path(), name.c_str(), item.modificationTime());
    } else if (item.isDirectory() && !isDotName(item.fileName())) {
      std::string name = prefix + item.fileName() + "\\";
      writer.writeEntry(item.path(), name.c_str(), item.modificationTime());
      writeDirectoryTree(writer, item.path(), name, skipped);
    }
  }
  if (entries.skippedEntries()) skipped = true;
}

void createArchive(const FilePath& sourceArgument, const FilePath& archive) {
  // The find service takes a last component of "." or ".." as an entry of
  // that name, not as the directory it stands for; "-a . out.vna" must pack
  // the current directory.
  std::string last = sourceArgument.fileName();
  FilePath source(sourceArgument.text());
  if (last == "." || last == "..") {
    std::string resolved = resolvedPath(sourceArgument);
    if (!resolved.empty()) source = FilePath(resolved.c_str());
  }
  FileItem item;
  if (!item.lookup(source)) throw ExceptionPL("Unable to open source location!\n");
  const bool isFile = item.isFile();
  if (!isFile && !item.isDirectory()) {
    throw ExceptionPL("Source location is neither a file nor a directory!\n");
  }
  // Creating the archive would truncate the very file it is to hold.
  if (isFile && sameFile(source, archive)) {
    throw ExceptionPL("Archive location is the same as the source location!\n");
  }

  WritableFileHandle file;
  file.create(archive);
  ArchiveWriter writer(file);
  FileIdentity identity;
  if (file.identity(identity)) writer.setArchiveIdentity(identity);

  bool skipped = false;
  if (isFile) {
    std::string name = source.fileName();
    writer.writeEntry(source, name.c_str(), item.modificationTime());
  } else {
    writeDirectoryTree(writer, source, std::string(), skipped);
  }
  writer.finishArchive();
  try {
    file.close();
  } catch (...) {
    // The archive is complete and patched but the OS could not confirm it:
    // a failed run must not leave an archive that reads as valid.
    removePathQuietly(archive);
    throw;
  }
  if (skipped) throw ExceptionPL("Some files or directories could not be archived.\n");
}

}  // namespace vna
