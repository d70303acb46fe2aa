#include "archive/create/create_archive.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "archive/format/format.h"
#include "archive/names/entry_names.h"
#include "fs/error_tables.h"
#include "base/errors.h"
#include "fs/file_item.h"
#include "fs/file_handle.h"
#include "fs/file_reader.h"
#include "fs/temporary_names.h"
#include "fs/fs_ops.h"
#include "platform_api.h"

namespace vna {

namespace {

// -a's temporary archives: ~vna<pid>-<n>.a.tmp. An extension of their own
// keeps them apart from -x's waiting files (~vna<pid>-<n>.tmp), which are
// not locked and start empty: a sweep of one never takes the other's.
constexpr char kArchiveExtension[] = ".a.tmp";

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
  if (!isTemporaryName(name, kArchiveExtension, run)) return false;
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
void removeLeftArchives(const platform::HeldDirectory& beside) noexcept {
  try {
    std::vector<std::string> left;
    {
      DirectoryIterator listing;
      listing.open(beside, "~vna*.a.tmp");
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

// The directory part of `path`: "." when there is none, and a root keeps
// its separator ("/", "D:\"). The rest goes to `name`.
std::string parentOf(const FilePath& path, std::string& name) {
  std::string directory(path.text());
  std::string::size_type separator = directory.find_last_of("\\/");
  if (separator == std::string::npos) {
    name = directory;
    return ".";
  }
  name = directory.substr(separator + 1);
  const bool root = separator == 0 || directory[separator - 1] == ':';
  directory.resize(root ? separator + 1 : separator);
  return directory;
}

// The archive's directory, held once as the OS resolves it, and the
// archive's name in it: every later step on the archive's side goes by
// that one name through the handle, so a directory on the way that is
// swapped for a link meanwhile is never written through.
struct ArchivePlace {
  platform::HeldDirectory directory;
  std::string name;
};

void holdArchivePlace(const FilePath& archive, ArchivePlace& place) {
  std::string directory = parentOf(archive, place.name);
  if (place.directory.hold(directory.c_str()) != platform::HeldDirectory::Outcome::Held) {
    DWORD code = GetLastError();
    mapCreateError(code != ERROR_SUCCESS ? code : ERROR_PATH_NOT_FOUND);
  }
  // "." or "..", or nothing at all, names a directory, which a file cannot
  // replace.
  if (!platform::isPlainName(place.name.c_str())) mapCreateError(ERROR_ACCESS_DENIED);
}

// Removes the temporary archive of a run that did not finish, by its name
// and only while the name still shows the run's own file. Declared before
// the file handle, so the file is closed first: an open file cannot be
// deleted everywhere.
struct TemporaryArchive {
  const platform::HeldDirectory* directory = nullptr;
  std::string name;
  FileIdentity identity;
  bool known = false;
  ~TemporaryArchive() {
    if (!name.empty() && (!known || nameShows(*directory, name.c_str(), identity))) {
      directory->deleteFile(name.c_str());
    }
  }
};

// The source as the user named it, links included: a held directory to
// walk, or a file open for reading.
struct Source {
  platform::HeldDirectory directory;
  FileHandle file;
  bool isFile = false;
};

// Finds the source through its held parent, by its exact name (never a
// pattern). ExceptionPL when nothing is there; a source that is there but
// cannot be opened (a FIFO, a device, a dangling link) is a file that
// could not be archived: `file` stays closed.
void findSource(const FilePath& source, Source& out) {
  using platform::HeldDirectory;
  std::string name;
  const std::string parentText = parentOf(source, name);
  const std::string text(source.text());
  // A root, or a last component of "." or "..", is the directory the OS
  // takes it for.
  if (source.fileName().empty() || isDotName(name.c_str())) {
    if (out.directory.hold(text.c_str()) != HeldDirectory::Outcome::Held) {
      throw ExceptionPL("Unable to open source location!\n");
    }
    return;
  }
  HeldDirectory parent;
  DWORD attributes = INVALID_FILE_ATTRIBUTES;
  if (parent.hold(parentText.c_str()) == HeldDirectory::Outcome::Held) {
    attributes = parent.getAttributes(name.c_str());
  }
  if (attributes == INVALID_FILE_ATTRIBUTES) throw ExceptionPL("Unable to open source location!\n");
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    // A link the user named is followed; a directory is held through its
    // parent, so it is the one just asked about.
    HeldDirectory::Outcome held = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0
                                      ? out.directory.hold(text.c_str())
                                      : out.directory.holdIn(parent, name.c_str());
    if (held != HeldDirectory::Outcome::Held) throw ExceptionPL("Unable to open source location!\n");
    return;
  }
  out.isFile = true;
  out.file.openIn(parent, name.c_str(), false);
}

// Whether the user is told that something could not be archived: an item
// left out, or a file stored with zeros where it gave no bytes.
bool leftOut(ArchiveWriter::Entry entry) {
  return entry == ArchiveWriter::Entry::Skipped || entry == ArchiveWriter::Entry::WrittenIncomplete;
}

}  // namespace

SourceWalk::SourceWalk(ArchiveWriter& writer, const platform::HeldDirectory& root)
    : writer_(writer), root_(root), rootPath_(finalDirectoryPath(root)) {
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
    if (leftOut(store(directory, leaf, prefix + leaf, item.modificationTime(), item.isDirectory()))) {
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
  // The path the OS gives for the open file only says where to look. The
  // answer is whether the file found there, one held directory at a time
  // from the held source and never through a link, is the very file opened:
  // a directory renamed into the source's old place holds other files.
  std::string reached = file.finalPath();
  const std::string& root = rootPath_;
  if (root.empty() || reached.size() <= root.size() ||
      reached.compare(0, root.size(), root) != 0) {
    return false;
  }
  std::vector<std::string> names;
  std::string::size_type at = root.size();
  while (at < reached.size()) {
    std::string::size_type end = reached.find_first_of("\\/", at);
    if (end == std::string::npos) end = reached.size();
    if (end > at) names.push_back(reached.substr(at, end - at));
    at = end + 1;
  }
  // The root's own text may end inside a name ("/src" and "/src2").
  const char last = root.back();
  if (names.empty() || (last != '/' && last != '\\' && reached[root.size()] != '/' &&
                        reached[root.size()] != '\\')) {
    return false;
  }
  platform::HeldDirectory held;
  const platform::HeldDirectory* directory = &root_;
  for (std::size_t i = 0; i + 1 < names.size(); ++i) {
    platform::HeldDirectory below;
    if (below.holdIn(*directory, names[i].c_str()) != platform::HeldDirectory::Outcome::Held) {
      return false;
    }
    held = std::move(below);
    directory = &held;
  }
  FileIdentity named;
  FileIdentity opened;
  return queryFileIdentity(*directory, names.back().c_str(), named) && file.identity(opened) &&
         named == opened;
}

void createArchive(const FilePath& source, const FilePath& archive) {
  Source found;
  findSource(source, found);
  ArchivePlace place;
  holdArchivePlace(archive, place);
  // Creating the archive would replace the very file it is to hold.
  FileIdentity sourceIdentity;
  FileIdentity standing;
  if (found.isFile && found.file.isOpen() && found.file.identity(sourceIdentity) &&
      queryFileIdentity(place.directory, place.name.c_str(), standing) &&
      standing == sourceIdentity) {
    throw ExceptionPL("Archive location is the same as the source location!\n");
  }

  // The archive is written under a temporary name beside its final one and
  // takes that name only when it is complete and closed: a run that fails
  // leaves an earlier file of that name as it was and no partial archive.
  // What would make the final move fail is asked first, before the source
  // is read, so a doomed run ends as early as a create over it would.
  FileIdentity earlier;
  const bool replacing = checkReplaceable(place.directory, place.name.c_str(), earlier);
  removeLeftArchives(place.directory);
  TemporaryArchive temporary;
  temporary.directory = &place.directory;
  unsigned next = 0;
  WritableFileHandle file;
  // Locked before its first byte, so that no other run takes it for a
  // killed run's leftover; where the file system has no locks, it stays
  // unlocked and no run can take any leftover for dead.
  do {
    temporary.name = file.createTemporaryIn(place.directory, next, kArchiveExtension);
  } while (!file.lockCreated(place.directory, temporary.name.c_str()));
  temporary.known = file.identity(temporary.identity);
  bool skipped = false;
  {
    ArchiveWriter writer(file);
    if (temporary.known) writer.addArchiveIdentity(temporary.identity);
    // The file about to be replaced is an archive of an earlier run, not
    // part of the source.
    if (replacing) writer.addArchiveIdentity(earlier);

    if (found.isFile) {
      // The source itself is taken as the OS resolves it: the user named it.
      std::string name = source.fileName();
      BY_HANDLE_FILE_INFORMATION info;
      if (!found.file.isOpen() || !GetFileInformationByHandle(found.file.handle(), &info) ||
          leftOut(writer.writeFile(
              found.file, name.c_str(),
              fileTimeToMicroseconds(info.ftLastWriteTime, isOnFatVolume(source.text()))))) {
        skipped = true;
      }
    } else {
      SourceWalk walk(writer, found.directory);
      walk.walk(found.directory, std::string());
      skipped = walk.skipped();
    }
    writer.finishArchive();
  }
  // Durable before it takes the earlier file's name: after a power cut the
  // name holds the earlier file or the whole new one, never an empty one.
  file.flush();
  file.close();
  // Another process that can write in the archive's directory may have put
  // something else (a link, a FIFO) at the temporary name: only the run's
  // own file is moved, and only the run's own file is left at the name. (A
  // temporary that is not the run's own is left alone on the way out.)
  if (temporary.known && !nameShows(place.directory, temporary.name.c_str(), temporary.identity)) {
    throw FileIOError(ERROR_FILE_NOT_FOUND);
  }
  replaceFile(place.directory, temporary.name.c_str(), place.name.c_str());
  temporary.name.clear();
  if (temporary.known) {
    FileIdentity named;
    const bool asked = queryFileIdentity(place.directory, place.name.c_str(), named);
    if (!asked || !(named == temporary.identity)) {
      // Swapped in between the look and the move. A link, FIFO, socket or
      // device is nothing a run of this program leaves at an archive's
      // name: it goes. A regular file may be another run's archive, moved
      // there since: it stays. Where the OS cannot say, the move stands.
      DWORD attributes = place.directory.getAttributes(place.name.c_str());
      const bool foreign = attributes != INVALID_FILE_ATTRIBUTES &&
                           (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) != 0;
      if (foreign) place.directory.deleteFile(place.name.c_str());
      if (foreign || asked) throw FileIOError(ERROR_FILE_NOT_FOUND);
    }
  }
  if (!place.directory.flushWritten()) mapWriteError(GetLastError());
  if (skipped) throw ExceptionPL("Some files or directories could not be archived.\n");
}

}  // namespace vna
