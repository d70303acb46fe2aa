#include "archive/create/create_archive.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "archive/names/entry_names.h"
#include "fs/errors.h"
#include "fs/file_item.h"
#include "fs/file_streams.h"
#include "fs/fs_ops.h"
#include "platform_api.h"

namespace vna {

namespace {

bool sameFile(const FilePath& a, const FilePath& b) {
  FileIdentity first;
  FileIdentity second;
  return queryFileIdentity(a, first) && queryFileIdentity(b, second) && first == second;
}

// Removes the temporary archive of a run that did not finish. Declared
// before the file handle, so the file is closed first: an open file cannot
// be deleted everywhere.
struct TemporaryArchive {
  FilePath path;
  ~TemporaryArchive() {
    if (!path.empty()) removePathQuietly(path);
  }
};

// Whether a listed name can be stored as itself. "\\" is the archive's
// separator, legal in a POSIX name: such a name would be read back as a path
// (and looked up as one, reaching another file). On Windows "?" is no
// character of a name: where one is listed, it stands in for one the ANSI
// code page cannot hold. "*.*" is how a directory is listed, never a lookup
// of one name.
bool isStorableName(const char* name) {
  if (std::strchr(name, '\\') != nullptr || std::strcmp(name, "*.*") == 0) return false;
  if (!platform::kWindowsPaths) return true;
  // A device name opens the device, not a file of that name: "nul.txt"
  // reads as empty, "com1" may wait for a line.
  return std::strchr(name, '?') == nullptr && !isReservedDeviceName(name, name + std::strlen(name));
}

void walk(ArchiveWriter& writer, const FilePath& directory, const std::string& prefix,
          std::vector<FileIdentity>& ancestors, bool& skipped) {
  DirectoryIterator entries;
  entries.open(directory);
  for (; entries.isValid(); entries.next()) {
    const FileItem& item = entries.item();
    const char* leaf = item.fileName();
    if (!item.isFile() && !item.isDirectory()) continue;  // "." and ".."
    // Nothing outside the source is opened: a link to a directory is not
    // walked (links can multiply a tree without end, or lead anywhere), a
    // link to a file is stored only when its file lies below the source,
    // and a pipe, socket or device is never opened at all.
    if (!isStorableName(leaf) || item.isDevice() || (item.isLink() && item.isDirectory())) {
      skipped = true;
      continue;
    }
    std::string name = prefix + leaf;
    // A directory that is one of its own ancestors (a link or junction back
    // up the tree) would be walked for ever; it is left out before its
    // entry is written. A file that became a directory since the listing is
    // stored as one and checked the same way before it is walked.
    const bool listedDirectory = item.isDirectory();
    FileIdentity identity;
    bool known = false;
    auto isAncestor = [&] {
      known = queryDirectoryIdentity(item.path(), identity);
      return known && std::find(ancestors.begin(), ancestors.end(), identity) != ancestors.end();
    };
    if (listedDirectory && isAncestor()) {
      skipped = true;
      continue;
    }
    ArchiveWriter::Listed listed = listedDirectory  ? ArchiveWriter::Listed::Directory
                                   : item.isLink() ? ArchiveWriter::Listed::LinkToFile
                                                   : ArchiveWriter::Listed::File;
    ArchiveWriter::Entry written =
        writer.writeEntry(item.path(), name.c_str(), item.modificationTime(), listed);
    if (written == ArchiveWriter::Entry::Skipped) skipped = true;
    if (written != ArchiveWriter::Entry::WrittenDirectory) continue;
    if (!listedDirectory && isAncestor()) {
      skipped = true;
      continue;
    }
    if (known) ancestors.push_back(identity);
    walk(writer, item.path(), name + "\\", ancestors, skipped);
    if (known) ancestors.pop_back();
  }
  if (entries.skippedEntries()) skipped = true;
}

}  // namespace

void writeDirectoryTree(ArchiveWriter& writer, const FilePath& directory,
                        const std::string& prefix, bool& skipped) {
  std::vector<FileIdentity> ancestors;
  FileIdentity identity;
  if (queryDirectoryIdentity(directory, identity)) ancestors.push_back(identity);
  walk(writer, directory, prefix, ancestors, skipped);
}

void createArchive(const FilePath& sourceArgument, const FilePath& archive) {
  // The find service takes a last component of "." or ".." as an entry of
  // that name, not as the directory it stands for; "-a . out.vna" must pack
  // the current directory.
  std::string last = sourceArgument.fileName();
  FilePath source(sourceArgument.text());
  if (isDotName(last.c_str())) {
    std::string resolved = resolvedPath(sourceArgument);
    if (!resolved.empty()) source = FilePath(resolved.c_str());
  }
  FileItem item;
  bool isFile = false;
  if (last.find_first_of("*?") != std::string::npos) {
    // The find service takes "*" and "?" as a pattern: "src/a*" would find
    // "src/a", and "*.*" lists a directory. The source is the one item of
    // exactly that name, or none.
    PathKind kind = examinePath(source);
    const bool found = kind != PathKind::Missing && item.lookup(source);
    if (kind == PathKind::Directory) {
      isFile = false;
    } else if (found && last == item.fileName() && item.isFile()) {
      isFile = true;
    } else {
      throw ExceptionPL("Unable to open source location!\n");
    }
  } else if (item.lookup(source)) {
    isFile = item.isFile();
    if (!isFile && !item.isDirectory()) {
      throw ExceptionPL("Source location is neither a file nor a directory!\n");
    }
  } else if (examinePath(source) != PathKind::Directory) {
    // A root ("/", "D:") has no entry of its own to find, but is a directory.
    throw ExceptionPL("Unable to open source location!\n");
  }
  // Creating the archive would truncate the very file it is to hold.
  if (isFile && sameFile(source, archive)) {
    throw ExceptionPL("Archive location is the same as the source location!\n");
  }

  // The archive is written under a temporary name beside its final one and
  // takes that name only when it is complete and closed: a run that fails
  // leaves an earlier file of that name as it was and no partial archive.
  // What would make the final move fail is asked first, before the source
  // is read, so a doomed run ends as early as a create over it would.
  FileIdentity earlier;
  const bool replacing = checkReplaceable(archive, earlier);
  TemporaryArchive temporary;
  unsigned next = 0;
  WritableFileHandle file;
  temporary.path = file.createTemporaryBeside(archive, next);
  bool skipped = false;
  {
    ArchiveWriter writer(file);
    FileIdentity identity;
    if (file.identity(identity)) writer.addArchiveIdentity(identity);
    // The file about to be replaced is an archive of an earlier run, not
    // part of the source.
    if (replacing) writer.addArchiveIdentity(earlier);

    if (isFile) {
      std::string name = source.fileName();
      if (writer.writeEntry(source, name.c_str(), item.modificationTime()) ==
          ArchiveWriter::Entry::Skipped) {
        skipped = true;
      }
    } else {
      writer.setSourceRoot(finalDirectoryPath(source));
      writeDirectoryTree(writer, source, std::string(), skipped);
    }
    writer.finishArchive();
  }
  file.close();
  moveReplacing(temporary.path, archive);
  temporary.path = FilePath();
  if (skipped) throw ExceptionPL("Some files or directories could not be archived.\n");
}

}  // namespace vna
