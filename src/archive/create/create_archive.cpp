#include "archive/create/create_archive.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "archive/format/format.h"
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

// Whether the open file `name` is what a run of this program left while it
// wrote an archive: a temporary name, and at the start the archive header's
// magic and zero filler byte, or as much of them as a run killed in its
// first write got out (nothing, even). Until its last write the check value
// is the placeholder; a run killed after that write but before the move
// leaves the finished archive under the temporary name, a leftover all the
// same.
bool isLeftArchive(const char* name, const FileHandle& file) {
  std::string run;
  if (!isTemporaryName(name, ".tmp", run)) return false;
  FileReader reader;
  reader.attach(file, 0);
  const uint32_t known = format::kMagicLength + 1;
  const uint32_t length = reader.size() < known ? reader.size() : known;
  uint8_t start[known];
  try {
    reader.readExact(ByteRange{start, start + length});
  } catch (const FileIOError&) {
    return false;
  }
  return std::memcmp(start, format::kCompressedMagic, length) == 0;
}

// Removes what killed runs left beside the archive's name: each temporary
// that holds an unfinished archive and that no live run holds locked.
// Never throws; what cannot be removed stays, harmless to this run.
void removeLeftArchives(const FilePath& archive) noexcept {
  try {
    std::string directory(archive.text());
    std::string::size_type separator = directory.find_last_of("\\/");
    // A root keeps its separator ("/", "D:\").
    if (separator == std::string::npos) {
      directory = ".";
    } else {
      const bool root = separator == 0 || directory[separator - 1] == ':';
      directory.resize(root ? separator + 1 : separator);
    }
    platform::HeldDirectory beside;
    if (beside.hold(directory.c_str()) != platform::HeldDirectory::Outcome::Held) return;
    std::vector<std::string> left;
    {
      DirectoryIterator listing;
      listing.open(beside, "~vna*.tmp");
      for (; listing.isValid(); listing.next()) left.push_back(listing.item().fileName());
    }
    for (const std::string& name : left) {
      // A live run holds its temporary locked from before its first byte.
      FileHandle file;
      if (!file.openLeftover(beside, name.c_str()) || !isLeftArchive(name.c_str(), file)) continue;
      file.close();
      beside.deleteFile(name.c_str());
    }
  } catch (...) {
  }
}

}  // namespace

SourceWalk::SourceWalk(ArchiveWriter& writer, const platform::HeldDirectory& root)
    : writer_(writer), root_(finalDirectoryPath(root)) {
  FileIdentity identity;
  if (queryDirectoryIdentity(root, identity)) ancestors_.push_back(identity);
}

void SourceWalk::walk(const platform::HeldDirectory& directory, const std::string& prefix) {
  DirectoryIterator entries;
  entries.open(directory);
  for (; entries.isValid(); entries.next()) {
    const FileItem& item = entries.item();
    const char* leaf = item.fileName();
    if (!item.isFile() && !item.isDirectory()) continue;  // "." and ".."
    // A pipe, socket or device is never opened at all, and a link to a
    // directory is not walked (links can multiply a tree without end, or
    // lead anywhere). The listing only spares the open: what the item is
    // when it is opened decides the rest.
    if (!isStorableName(leaf) || item.isDevice() || (item.isLink() && item.isDirectory())) {
      skipped_ = true;
      continue;
    }
    if (store(directory, leaf, prefix + leaf, item.modificationTime(), item.isDirectory()) ==
        ArchiveWriter::Entry::Skipped) {
      skipped_ = true;
    }
  }
  if (entries.skippedEntries()) skipped_ = true;
}

ArchiveWriter::Entry SourceWalk::store(const platform::HeldDirectory& directory, const char* leaf,
                                       const std::string& name, int64_t modificationTime,
                                       bool listedDirectory) {
  bool absent = false;
  if (listedDirectory) {
    ArchiveWriter::Entry stored = storeDirectory(directory, leaf, name, modificationTime, absent);
    // No longer a directory: perhaps a file now.
    if (!absent) return stored;
  }
  ArchiveWriter::Entry stored = storeFile(directory, leaf, name, modificationTime);
  if (stored != ArchiveWriter::Entry::Skipped || listedDirectory) return stored;
  // Listed as a file, perhaps a directory now.
  stored = storeDirectory(directory, leaf, name, modificationTime, absent);
  return absent ? ArchiveWriter::Entry::Skipped : stored;
}

ArchiveWriter::Entry SourceWalk::storeDirectory(const platform::HeldDirectory& directory,
                                                const char* leaf, const std::string& name,
                                                int64_t modificationTime, bool& absent) {
  using platform::HeldDirectory;
  HeldDirectory held;
  HeldDirectory::Outcome outcome = held.holdIn(directory, leaf);
  absent = outcome == HeldDirectory::Outcome::Absent;
  if (outcome != HeldDirectory::Outcome::Held) return ArchiveWriter::Entry::Skipped;
  // A directory that is one of its own ancestors (a bind mount of a
  // directory above it) would be walked for ever; it is left out before its
  // entry is written.
  FileIdentity identity;
  const bool known = queryDirectoryIdentity(held, identity);
  if (known && std::find(ancestors_.begin(), ancestors_.end(), identity) != ancestors_.end()) {
    return ArchiveWriter::Entry::Skipped;
  }
  writer_.writeDirectory(name.c_str(), modificationTime);
  if (known) ancestors_.push_back(identity);
  walk(held, name + "\\");
  if (known) ancestors_.pop_back();
  return ArchiveWriter::Entry::WrittenDirectory;
}

ArchiveWriter::Entry SourceWalk::storeFile(const platform::HeldDirectory& directory,
                                           const char* leaf, const std::string& name,
                                           int64_t modificationTime) {
  // Opened as itself, so that a link put at the name meanwhile is seen as a
  // link and goes through the link rule, asked of the file it leads to.
  FileHandle item;
  DWORD code = item.openIn(directory, leaf, true);
  if (code != ERROR_SUCCESS) {
    // The archive being written is held open for writing, so an open for
    // reading is refused with a sharing violation where sharing is enforced.
    FileIdentity identity;
    if (code == ERROR_SHARING_VIOLATION && queryFileIdentity(directory, leaf, identity) &&
        writer_.isArchive(identity)) {
      return ArchiveWriter::Entry::IsTheArchive;
    }
    return ArchiveWriter::Entry::Skipped;
  }
  if (!item.isLink()) {
    // Another run's unfinished archive is no file of the source.
    if (isLeftArchive(leaf, item)) return ArchiveWriter::Entry::IsTheArchive;
    return writer_.writeFile(item, name.c_str(), modificationTime);
  }
  FileHandle target;
  if (target.openIn(directory, leaf, false) != ERROR_SUCCESS || !liesBelowSource(target)) {
    return ArchiveWriter::Entry::Skipped;
  }
  return writer_.writeFile(target, name.c_str(), modificationTime);
}

bool SourceWalk::liesBelowSource(const FileHandle& file) const {
  // Asked of the open handle, so the answer is about the very file that is
  // read, whatever happens to the link meanwhile.
  std::string reached = file.finalPath();
  const std::string& root = root_;
  if (root.empty() || reached.size() <= root.size() ||
      reached.compare(0, root.size(), root) != 0) {
    return false;
  }
  char last = root.back();
  return last == '/' || last == '\\' || reached[root.size()] == '/' ||
         reached[root.size()] == '\\';
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
  removeLeftArchives(archive);
  TemporaryArchive temporary;
  unsigned next = 0;
  WritableFileHandle file;
  // Locked before its first byte, so that no other run takes it for a
  // killed run's leftover; where the file system has no locks, it stays
  // unlocked and no run can take any leftover for dead.
  do {
    temporary.path = file.createTemporaryBeside(archive, next);
  } while (!file.lockCreated(temporary.path));
  bool skipped = false;
  {
    ArchiveWriter writer(file);
    FileIdentity identity;
    if (file.identity(identity)) writer.addArchiveIdentity(identity);
    // The file about to be replaced is an archive of an earlier run, not
    // part of the source.
    if (replacing) writer.addArchiveIdentity(earlier);

    if (isFile) {
      // The source itself is taken as the OS resolves it: the user named it.
      std::string name = source.fileName();
      FileHandle opened;
      try {
        opened.open(source);
      } catch (const FileIOError&) {
        skipped = true;
      }
      if (opened.isOpen() &&
          writer.writeFile(opened, name.c_str(), item.modificationTime()) ==
              ArchiveWriter::Entry::Skipped) {
        skipped = true;
      }
    } else {
      platform::HeldDirectory root;
      if (root.hold(source.text()) == platform::HeldDirectory::Outcome::Held) {
        SourceWalk walk(writer, root);
        walk.walk(root, std::string());
        skipped = walk.skipped();
      } else {
        skipped = true;
      }
    }
    writer.finishArchive();
  }
  // Durable before it takes the earlier file's name: after a power cut the
  // name holds the earlier file or the whole new one, never an empty one.
  file.flush();
  file.close();
  moveReplacing(temporary.path, archive);
  temporary.path = FilePath();
  if (skipped) throw ExceptionPL("Some files or directories could not be archived.\n");
}

}  // namespace vna
