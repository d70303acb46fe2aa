#include "archive/extract/extract_archive.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "archive/stream/compressed_reader.h"
#include "archive/names/entry_names.h"
#include "archive/format/entry_record.h"
#include "archive/format/format.h"
#include "archive/extract/file_placer.h"
#include "archive/extract/target_directory.h"
#include "base/errors.h"
#include "fs/file_item.h"
#include "fs/file_handle.h"
#include "fs/fs_ops.h"
#include "text/timestamp.h"

namespace vna {

namespace {

// The timestamp is only validated, and the entries of one tree mostly share
// a few texts: a text equal to the last accepted one passes unparsed, since
// parsing the same bytes again can only accept them again.
class TimestampCheck {
 public:
  void check(const uint8_t* text, uint8_t length) {
    if (length == length_ && std::memcmp(text, text_, length) == 0) return;
    const char* begin = reinterpret_cast<const char*>(text);
    parseTimestamp(begin, begin + length);
    std::memcpy(text_, text, length);
    length_ = length;
  }

 private:
  uint8_t text_[255];
  uint8_t length_ = 0;
};

// The record loop. Returns the number of entries that could not be written
// (each removed again); throws on the first error outside one entry.
unsigned extractEntries(const FilePath& archive, const FilePath& target) {
  FileHandle file(archive);
  // The archive is read on its own thread where it can be, while this one
  // writes the files: this thread alone acts on the target.
  CompressedStreamReader reader(file, nullptr);

  TargetDirectory destination(target);
  FilePlacer placer(destination, file);
  bool treeMode = false;
  unsigned failures = 0;
  TimestampCheck lastTimestamp;
  record::EntryFields fields;

  for (;;) {
    if (!record::readEntryFields(reader, fields)) {
      if (reader.finishAtEnd() && reader.checkValue() == reader.storedCheckValue()) {
        return failures + placer.commit();
      }
      throw FormatError();
    }
    lastTimestamp.check(fields.timestamp, fields.timestampLength);
    const char* name = fields.name;
    uint32_t size = fields.size;

    // Tree mode: archives of one file, and the top-level files of a directory
    // archive, come before any directory entry and carry no path; a file
    // entry met before the first directory entry therefore lands directly in
    // the target under its last name component. From the first directory
    // entry on, entries keep their whole relative path.
    Stringy base = entryBaseName(name);
    EntryTarget entry;
    entry.directory = base.empty();
    if (base.empty()) {
      if (size != 0) throw FormatError();
      Stringy relative = sanitizeEntryPath(name);
      if (destination.admits(relative.text(), entry)) {
        // A link standing at the directory or above it fails the entry and
        // stays as it is; anything else in the way ends the run.
        TargetDirectory::HeldParent parent = placer.holdParentOf(entry);
        if (parent.outcome == TargetDirectory::Parent::Missing) throw DirectoryNotFoundError();
        if (parent.outcome == TargetDirectory::Parent::Refused ||
            !ensureRealDirectory(*parent.directory, entry.leaf.c_str())) {
          ++failures;
        }
      } else if (!destination.isItself(relative.text())) {
        ++failures;
      }
      treeMode = true;
    } else {
      // The last component alone still meets every rule a whole name meets:
      // "q\\a:b" must not become the stream "a:b" of the file "a".
      Stringy relative = sanitizeEntryPath(treeMode ? name : base.text());
      if (destination.admits(relative.text(), entry)) {
        if (!placer.extract(reader, entry, size)) ++failures;
      } else {
        ++failures;
        reader.skip(size);
      }
    }
  }
}

}  // namespace

void extractArchive(const FilePath& archive, const FilePath& target) {
  if (examinePath(archive) == PathKind::Missing) {
    throw ExceptionPL("Unable to open source location!\n");
  }
  ensureDirectory(target);
  unsigned failures = 0;
  try {
    failures = extractEntries(archive, target);
  } catch (const ExceptionPL&) {
    throw;
  } catch (const FormatError&) {
    throw ExceptionPL("Invalidly formatted VNArchive file.\n");
  }
  if (failures > 0) throw ExceptionPL("Some files could not be extracted.\n");
}

}  // namespace vna
