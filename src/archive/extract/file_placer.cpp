#include "archive/extract/file_placer.h"

#include <cstring>

#include "base/errors.h"
#include "fs/error_tables.h"
#include "fs/file_item.h"
#include "fs/fs_ops.h"
#include "fs/temporary_names.h"

namespace vna {

namespace {

// File data comes straight out of the reader's block and goes to the OS at
// most 32 KiB per write: the unit in which the format's file data has
// always been written, so a slow or full disk fails within one chunk and no
// single call carries a huge count (which some network file systems refuse).
constexpr uint32_t kDataChunk = 32768;
constexpr char kJournalExtension[] = ".jnl";
constexpr char kWaitingExtension[] = ".tmp";

// A journal's name: its stem, ~vna<process id>-<n>, then ".jnl".
bool journalStemOf(const std::string& name, std::string& stem) {
  std::string run;
  if (!isTemporaryName(name.c_str(), kJournalExtension, run)) return false;
  stem.assign(name, 0, name.size() - std::strlen(kJournalExtension));
  return true;
}

// A waiting file's name: the stem of its run's journal, "-", a number, ".tmp".
bool waitingStemOf(const std::string& name, std::string& stem) {
  const std::size_t extension = std::strlen(kWaitingExtension);
  const std::size_t cut = name.rfind('-');
  if (cut == std::string::npos || name.size() < cut + 2 + extension ||
      name.compare(name.size() - extension, extension, kWaitingExtension) != 0 ||
      name.find_first_not_of("0123456789", cut + 1) != name.size() - extension) {
    return false;
  }
  stem.assign(name, 0, cut);
  std::string run;
  return isTemporaryName(stem.c_str(), "", run);
}

std::string joined(const std::string& path, const std::string& name) {
  if (path.empty()) return name;
  if (name.empty()) return path;
  return path + (platform::kWindowsPaths ? "\\" : "/") + name;
}

// Calls `each(kind, record)` for every whole record of the journal `file`,
// read from its start; false, calling nothing, when it is no journal.
template <class Each>
bool eachRecord(const FileHandle& file, Each each) {
  JournalReader reader;
  if (reader.start(file) != JournalReader::Start::Journal) return false;
  Replacement record;
  for (auto kind = reader.next(record); kind != JournalReader::Next::End; kind = reader.next(record)) {
    each(kind, record);
  }
  return true;
}

}  // namespace

bool isReservedName(const std::string& leaf) {
  std::string lower(leaf);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  auto endsWith = [&](const char* tail) {
    const std::size_t n = std::strlen(tail);
    return lower.size() >= n && lower.compare(lower.size() - n, n, tail) == 0;
  };
  return lower.compare(0, 4, "~vna") == 0 && (endsWith(kJournalExtension) || endsWith(kWaitingExtension));
}

struct FilePlacer::DeadJournal {
  std::string path;
  std::string name;
  std::string stem;
  FileHandle file;
  FileIdentity identity;
  // Names below the target that its records name but that are not its
  // run's files: never removed as its leftovers.
  std::vector<std::string> leftAlone;
  // A waiting file it lists could not be removed: it stays.
  bool keep = false;
};

FilePlacer::FilePlacer(TargetDirectory& destination, const FileHandle& archive)
    : destination_(destination) {
  archiveKnown_ = archive.identity(archive_);
  // What killed runs left in the target is settled before anything of this
  // run is written there, even when the archive holds no entry.
  FileIdentity top;
  if (destination_.holdTarget() && queryDirectoryIdentity(destination_.target(), top) &&
      swept_.insert(fingerprintOf(top))) {
    sweep(0);
  }
}

FilePlacer::~FilePlacer() {
  if (!committed_) dropJournals(false);
}

TargetDirectory::HeldParent FilePlacer::holdParentOf(EntryTarget& entry) {
  for (;;) {
    TargetDirectory::HeldParent held = destination_.holdParentOf(entry);
    // Entries come in tree order: mostly the levels are those of the last
    // entry, each settled already, and no question is asked of them again.
    if (held.outcome != TargetDirectory::Parent::Held || destination_.holds() == seenHolds_) {
      return held;
    }
    std::size_t fresh = destination_.levels();
    for (std::size_t i = 0; i < destination_.levels(); ++i) {
      FileIdentity identity;
      if (queryDirectoryIdentity(destination_.level(i), identity) &&
          swept_.insert(fingerprintOf(identity))) {
        fresh = i;
        break;
      }
    }
    if (fresh == destination_.levels()) {
      seenHolds_ = destination_.holds();
      return held;
    }
    // Settling holds other directories: the entry's are held again after.
    sweep(fresh);
  }
}

const platform::HeldDirectory* FilePlacer::holdAt(const std::string& path, const std::string& leaf) {
  EntryTarget at;
  if (!platform::isPlainName(leaf.c_str()) || !destination_.admits(joined(path, leaf).c_str(), at)) {
    return nullptr;
  }
  at.directory = false;
  TargetDirectory::HeldParent held = destination_.holdParentOf(at);
  return held.outcome == TargetDirectory::Parent::Held && at.leaf == leaf ? held.directory : nullptr;
}

void FilePlacer::sweep(std::size_t level) noexcept {
  try {
    const std::string path = destination_.levelPath(level);
    std::vector<std::string> journals;
    std::vector<std::string> waiting;
    {
      DirectoryIterator listing;
      listing.open(destination_.level(level), "~vna*");
      for (; listing.isValid(); listing.next()) {
        std::string name = listing.item().fileName();
        std::string stem;
        if (journalStemOf(name, stem)) {
          journals.push_back(name);
        } else if (waitingStemOf(name, stem)) {
          waiting.push_back(name);
        }
      }
    }
    for (const std::string& name : journals) {
      try {
        settleJournal(path, name);
      } catch (...) {
        // Left for a later run.
      }
    }
    // What the dead runs made here that no record names: a record lost
    // with a torn tail, or a run killed between a file and its record.
    for (const std::string& name : waiting) {
      std::string stem;
      waitingStemOf(name, stem);
      // A dead run that had this run's process id and number: its files
      // cannot be told from this run's by name, and stay.
      if (stem == stem_) continue;
      const std::string where = joined(path, name);
      bool orphan = false;
      for (const auto& dead : dead_) {
        if (dead->stem != stem) continue;
        orphan = true;
        for (const std::string& alone : dead->leftAlone) orphan = orphan && alone != where;
      }
      if (!orphan) continue;
      const platform::HeldDirectory* directory = holdAt(path, name);
      FileHandle file;
      FileStamp stamp;
      bool alone = false;
      if (directory == nullptr || !file.openLeftover(*directory, name.c_str()) ||
          !stampOf(file, stamp, &alone) || !alone) {
        continue;
      }
      file.close();
      directory->deleteFile(name.c_str());
    }
  } catch (...) {
    // Left for a later run.
  }
}

void FilePlacer::settleJournal(const std::string& path, const std::string& name) {
  const platform::HeldDirectory* directory = holdAt(path, name);
  if (directory == nullptr) return;
  auto dead = std::make_unique<DeadJournal>();
  // A live run holds its journal locked.
  FileStamp stamp;
  bool alone = false;
  if (!dead->file.openLeftover(*directory, name.c_str()) ||
      !stampOf(dead->file, stamp, &alone, true) || !alone || !journalStemOf(name, dead->stem)) {
    return;
  }
  dead->identity = stamp.identity;
  dead->path = path;
  dead->name = name;
  JournalReader reader;
  if (reader.start(dead->file) == JournalReader::Start::Foreign) return;
  // The mark comes last: known before any record is acted on.
  bool verified = false;
  eachRecord(dead->file, [&](JournalReader::Next kind, const Replacement&) {
    verified = verified || kind == JournalReader::Next::Verified;
  });
  eachRecord(dead->file, [&](JournalReader::Next kind, const Replacement& record) {
    if (kind != JournalReader::Next::Replacement) return;
    Settled settled = settle(record, verified, path, dead->stem);
    if (settled == Settled::Kept) dead->keep = true;
    if (settled == Settled::LeftAlone) {
      dead->leftAlone.push_back(joined(joined(path, record.directory), record.waiting));
    }
  });
  // Kept, locked, to the end of the run: its run's unlisted files in the
  // directories below are removed as the run reaches them.
  dead_.push_back(std::move(dead));
}

FilePlacer::Settled FilePlacer::settle(const Replacement& record, bool verified,
                                       const std::string& journalPath, const std::string& stem) {
  std::string maker;
  if (!waitingStemOf(record.waiting, maker) || maker != stem ||
      !platform::isPlainName(record.target.c_str()) || record.target == record.waiting) {
    return Settled::LeftAlone;
  }
  const platform::HeldDirectory* directory =
      holdAt(joined(journalPath, record.directory), record.waiting);
  // Gone or a link: not this record's to act on. Held locked by a live
  // process: the journal waits for it. The stamp below tells whether what
  // was opened is the recorded file.
  FileHandle waiting;
  if (directory == nullptr) return Settled::LeftAlone;
  if (!waiting.openLocked(*directory, record.waiting.c_str())) {
    return GetLastError() == ERROR_LOCK_VIOLATION ? Settled::Kept : Settled::LeftAlone;
  }
  FileStamp stamp;
  bool alone = false;
  if (!stampOf(waiting, stamp, &alone) || stamp != record.waitingStamp || !alone) {
    return Settled::LeftAlone;
  }
  bool move = false;
  if (verified) {
    // Only over the file the record saw: one put there since stays.
    FileStamp now;
    DWORD attributes = 0;
    if (stampAt(*directory, record.target.c_str(), now, attributes)) {
      move = record.standing && now.identity == record.standingStamp.identity &&
             now.birth == record.standingStamp.birth;
    } else {
      move = !record.standing && GetLastError() == ERROR_FILE_NOT_FOUND;
    }
  }
  // Windows moves no file that is open.
  waiting.close();
  if (move && directory->replaceFile(record.waiting.c_str(), record.target.c_str())) {
    return Settled::Moved;
  }
  return directory->deleteFile(record.waiting.c_str()) ? Settled::Removed : Settled::Kept;
}

void FilePlacer::openJournal() {
  const platform::HeldDirectory& top = destination_.target();
  journalName_ = firstFreeName(
      nextJournal_, [](unsigned n) { return temporaryName(n, kJournalExtension); },
      [&](const char* name) {
        // Locked before anything is in it, so no run settling dead
        // journals takes it for one.
        return journal_.createPrivate(top, name) && journal_.lockCreated(top, name);
      });
  try {
    stem_ = journalName_.substr(0, journalName_.size() - std::strlen(kJournalExtension));
    // No entry of the archive may take the journal's place.
    FileIdentity mine;
    if (journal_.identity(mine)) remember(mine);
    writer_.start(journal_);
    // Durable before the first waiting file exists: a power cut never
    // leaves a waiting file that no journal owns.
    journal_.flush();
    if (!top.flushNames()) mapWriteError(GetLastError());
  } catch (...) {
    journal_.close();
    top.deleteFile(journalName_.c_str());
    journalName_.clear();
    throw;
  }
}

std::string FilePlacer::createWaiting(WritableFileHandle& out,
                                      const platform::HeldDirectory& parent) {
  if (broken_) throw FileIOError(0);
  if (!journal_.isOpen()) openJournal();
  return firstFreeName(
      nextWaiting_, [&](unsigned k) { return stem_ + "-" + std::to_string(k) + kWaitingExtension; },
      [&](const char* name) { return out.createNew(parent, name); });
}

void FilePlacer::record(const EntryTarget& target, const std::string& waiting,
                        const FileStamp& written, bool standingKnown, const FileStamp& standing) {
  Replacement record;
  std::string to = destination_.relativeText(target);
  to.erase(to.size() - target.leaf.size());
  while (!to.empty() && isSeparator(to.back())) to.pop_back();
  record.directory = to;
  record.target = target.leaf;
  record.waiting = waiting;
  record.waitingStamp = written;
  record.standing = standingKnown;
  if (standingKnown) record.standingStamp = standing;
  try {
    writer_.add(record);
  } catch (...) {
    // Its end may hold part of a record now: no further one is written.
    broken_ = true;
    throw;
  }
}

bool FilePlacer::mayReplace(const platform::HeldDirectory& parent, const EntryTarget& target,
                            FileStamp& standing, bool& known) {
  // One question by name: a link or a directory stays; nothing there, or
  // nothing the OS can say, is created over as any new file is.
  DWORD attributes = 0;
  known = stampAt(parent, target.leaf.c_str(), standing, attributes);
  if (!known) return true;
  if ((attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) return false;
  // Not the archive being read (under any of its names), not a file an
  // earlier entry of this run wrote.
  return !remembered(standing.identity) && !(archiveKnown_ && standing.identity == archive_);
}

bool FilePlacer::extract(CompressedStreamReader& reader, EntryTarget& target, uint32_t size) {
  uint32_t remaining = size;
  {
    WritableFileHandle out;
    std::string temporary;
    bool created = false;
    const platform::HeldDirectory* parent = nullptr;
    try {
      // Files are limited to 2 GiB on every build: no read or write may
      // start at 2^31 or beyond, and a write that starts below it and ends
      // beyond would let a file past the limit through on some sizes.
      if (size > kFirstUnreachablePosition) throw Refused();
      TargetDirectory::HeldParent held = holdParentOf(target);
      if (held.outcome != TargetDirectory::Parent::Held) throw Refused();
      parent = held.directory;
      // An archive never plants a journal or a waiting file.
      if (isReservedName(target.leaf)) throw Refused();
      created = out.createNew(*parent, target.leaf.c_str());
      FileStamp standing;
      bool standingKnown = false;
      if (!created) {
        if (!mayReplace(*parent, target, standing, standingKnown)) throw Refused();
        temporary = createWaiting(out, *parent);
      }
      FileWriter writer(out, 0);
      while (remaining > 0) {
        ConstByteRange chunk = reader.readInPlace(remaining < kDataChunk ? remaining : kDataChunk);
        remaining -= static_cast<uint32_t>(chunk.length());
        writer.write(chunk);
      }
      // The file keeps this identity when it is moved into its place.
      FileStamp written;
      const bool known = stampOf(out, written);
      if (!temporary.empty()) {
        // Only a file of known identity is moved.
        if (!known) throw Refused();
        // Durable before the journal says a run may move it.
        out.prepareFlush();
      }
      out.close();
      if (known) remember(written.identity);
      if (!temporary.empty()) {
        record(target, temporary, written, standingKnown, standing);
        ++complete_;
        temporary.clear();
        // The old file stays until the whole archive is verified; no later
        // entry may replace it meanwhile.
        if (standingKnown) remember(standing.identity);
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
  reader.skip(remaining);
  return false;
}

unsigned FilePlacer::commit() {
  destination_.flushWritten();
  if (!journal_.isOpen() || complete_ == 0) {
    dropJournals(false);
    committed_ = true;
    return 0;
  }
  writer_.addVerified();
  journal_.flush();
  committed_ = true;
  unsigned moved = 0;
  eachRecord(journal_, [&](JournalReader::Next kind, const Replacement& record) {
    if (kind == JournalReader::Next::Replacement &&
        settle(record, true, std::string(), stem_) == Settled::Moved) {
      ++moved;
    }
  });
  destination_.flushWritten();
  dropJournals(true);
  return complete_ > moved ? complete_ - moved : 0;
}

void FilePlacer::dropJournals(bool ownSettled) noexcept {
  try {
    bool keepOwn = false;
    if (journal_.isOpen() && !ownSettled) {
      // The run ends without a verified archive: every old file stays,
      // and what waited beside it goes.
      eachRecord(journal_, [&](JournalReader::Next kind, const Replacement& record) {
        if (kind == JournalReader::Next::Replacement &&
            settle(record, false, std::string(), stem_) == Settled::Kept) {
          keepOwn = true;
        }
      });
    }
    // What the journals' runs moved and removed is durable before the
    // journals that would redo it go.
    if ((journal_.isOpen() && !ownSettled) || !dead_.empty()) destination_.flushWritten();
    if (journal_.isOpen()) {
      FileIdentity mine;
      const bool known = journal_.identity(mine);
      journal_.close();
      if (!keepOwn && known && nameShows(destination_.target(), journalName_.c_str(), mine)) {
        destination_.target().deleteFile(journalName_.c_str());
      }
    }
    for (const auto& dead : dead_) {
      dead->file.close();
      if (dead->keep) continue;
      const platform::HeldDirectory* directory = holdAt(dead->path, dead->name);
      if (directory != nullptr && nameShows(*directory, dead->name.c_str(), dead->identity)) {
        directory->deleteFile(dead->name.c_str());
      }
    }
    dead_.clear();
  } catch (...) {
    // Left for a later run.
  }
}

}  // namespace vna
