#include "archive/extract/extract_archive.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "archive/stream/compressed_reader.h"
#include "archive/names/entry_names.h"
#include "archive/format/entry_record.h"
#include "archive/format/format.h"
#include "archive/extract/replacement_journal.h"
#include "archive/extract/target_paths.h"
#include "fs/errors.h"
#include "fs/file_item.h"
#include "fs/file_streams.h"
#include "fs/fs_ops.h"
#include "text/timestamp.h"

namespace vna {

namespace {

// File data comes straight out of the reader's block and goes to the OS at
// most 32 KiB per write: the unit in which the format's file data has
// always been written, so a slow or full disk fails within one chunk and no
// single call carries a huge count (which some network file systems refuse).
constexpr uint32_t kDataChunk = 32768;

void skipData(CompressedStreamReader& reader, uint32_t& remaining) {
  while (remaining > 0) {
    remaining -= static_cast<uint32_t>(reader.readInPlace(remaining).length());
  }
}

// Where one run writes its files. A target that does not exist yet is
// created in place with one call. Where something already stands, the new
// file is written under a temporary name beside it and put in its place
// only when the whole archive has been verified, so a failed entry or a
// damaged archive leaves the old file as it was, and the other names of a
// hard-linked file keep their content.
class FilePlacer {
 public:
  FilePlacer(TargetDirectory& destination, const FileHandle& archive)
      : destination_(destination), journal_(destination) {
    archiveKnown_ = archive.identity(archive_);
  }

  // Once the archive is verified: everything written is made durable, then
  // the journal is marked verified, then the replacements of files that
  // stood before the run take their places, durable too before the run
  // reports success. Returns how many could not. A failed flush or mark
  // before the moves leaves every earlier file as it was.
  unsigned commit() {
    destination_.flushWritten();
    const bool replacing = journal_.hasReplacements();
    unsigned failures = journal_.commit();
    if (replacing) destination_.flushWritten();
    journal_.finish();
    return failures;
  }

  // Writes one file entry's data; on any failure whatever stood at the
  // target before stays, the rest of the entry's data is read past and
  // false is returned.
  bool extract(CompressedStreamReader& reader, EntryTarget& target, uint32_t size) {
    uint32_t remaining = size;
    {
      WritableFileHandle out;
      std::string temporary;
      bool created = false;
      const platform::HeldDirectory* parent = nullptr;
      try {
        if (destination_.holdParentOf(target) != TargetDirectory::Parent::Held) throw Refused();
        parent = &destination_.parent();
        created = out.createNew(*parent, target.leaf.c_str());
        FileIdentity standing;
        bool standingKnown = false;
        if (!created) {
          if (!mayReplace(*parent, target, standing, standingKnown)) throw Refused();
          temporary = journal_.createWaiting(out, target);
        }
        FileWriter writer(out, 0);
        while (remaining > 0) {
          ConstByteRange chunk = reader.readInPlace(remaining < kDataChunk ? remaining : kDataChunk);
          remaining -= static_cast<uint32_t>(chunk.length());
          writer.write(chunk);
        }
        // The file keeps this identity when it is moved into its place.
        FileIdentity written;
        const bool known = out.identity(written);
        if (!temporary.empty()) {
          // Only a file of known identity is moved: the commit moves what
          // this run wrote and nothing else.
          if (!known) throw Refused();
          // Durable before the journal says the run may move it.
          out.prepareFlush();
        }
        out.close();
        if (known) destination_.rememberWritten(written);
        if (!temporary.empty()) {
          // The old file stays until the whole archive is verified; no later
          // entry may replace it meanwhile.
          journal_.waitingComplete();
          temporary.clear();
          if (standingKnown) destination_.rememberWritten(standing);
        }
        return true;
      } catch (...) {
        // Whatever went wrong, this entry is lost but the run goes on. Only
        // what this entry itself created is removed, by its own name in the
        // directory it was made in.
        try {
          out.close();
        } catch (...) {
        }
        if (!temporary.empty()) {
          removePathQuietly(*parent, temporary.c_str());
        } else if (created) {
          removePathQuietly(*parent, target.leaf.c_str());
        }
      }
    }
    // Outside the guard: a damaged archive fails here for good.
    skipData(reader, remaining);
    return false;
  }

 private:
  // This entry may not write its target (a link on the way or at it, a
  // directory, the archive itself, a file this run wrote); never leaves the
  // guard above.
  class Refused {};

  // Whether the file standing at `target` may be replaced: not a link, not
  // a directory, not the archive being read (under any of its names), not
  // a file that an earlier entry of this run wrote.
  bool mayReplace(const platform::HeldDirectory& parent, const EntryTarget& target,
                  FileIdentity& standing, bool& known) {
    PathKind kind = examinePath(parent, target.leaf.c_str());
    if (kind == PathKind::Link || kind == PathKind::Directory) return false;
    known = kind == PathKind::File && queryFileIdentity(parent, target.leaf.c_str(), standing);
    if (!known) return true;
    return !destination_.writtenInThisRun(standing) && !(archiveKnown_ && standing == archive_);
  }

  TargetDirectory& destination_;
  ReplacementJournal journal_;
  FileIdentity archive_;
  bool archiveKnown_ = false;
};

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

}  // namespace

unsigned extractEntries(const FilePath& archive, const FilePath& target, InflateThread thread) {
  FileHandle file(archive);
  // The archive is read on its own thread where it can be, while this one
  // writes the files: this thread alone acts on the target.
  CompressedStreamReader reader(file, nullptr, thread);

  TargetDirectory destination(target);
  // What a killed run left in the target is settled before anything of
  // this run is written there.
  settleLeftJournals(destination);
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
        TargetDirectory::Parent parent = destination.holdParentOf(entry);
        if (parent == TargetDirectory::Parent::Missing) throw DirectoryNotFoundError();
        if (parent == TargetDirectory::Parent::Refused ||
            !ensureRealDirectory(destination.parent(), entry.leaf.c_str())) {
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
        skipData(reader, size);
      }
    }
  }
}

void extractArchive(const FilePath& archive, const FilePath& target, InflateThread thread) {
  if (examinePath(archive) == PathKind::Missing) {
    throw ExceptionPL("Unable to open source location!\n");
  }
  ensureDirectory(target);
  unsigned failures = 0;
  try {
    failures = extractEntries(archive, target, thread);
  } catch (const ExceptionPL&) {
    throw;
  } catch (const FormatError&) {
    throw ExceptionPL("Invalidly formatted VNArchive file.\n");
  }
  if (failures > 0) throw ExceptionPL("Some files could not be extracted.\n");
}

}  // namespace vna
