#include "archive/extract/replacement_journal.h"

#include <cstring>
#include <string>
#include <vector>

#include "fs/errors.h"
#include "fs/file_item.h"
#include "fs/fs_ops.h"

namespace vna {

namespace {

// Journals are read through one buffer of this size. A record is two paths
// of an entry below the target, far shorter: anything longer is not a
// record this program wrote, and reading stops there.
constexpr std::size_t kBufferSize = 32768;
constexpr char kWaitingExtension[] = ".tmp";
constexpr char kJournalExtension[] = ".jnl";

enum class Contents {
  // Not a journal of this program: left alone.
  Foreign,
  // Empty, or a part of the magic: a run killed as it made its journal.
  Unstarted,
  Journal,
};

// Reads the journal from its start: `onPair(to, from)` for each complete
// record, `verified` set when the mark is met. A partial last record (a run
// killed while writing it) is no record.
template <class OnPair>
Contents readRecords(const FileHandle& file, bool& verified, OnPair onPair) {
  verified = false;
  FileReader reader;
  reader.attach(file, 0);
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kBufferSize]);
  std::string carry;
  bool headerSeen = false;
  while (reader.hasMore()) {
    ByteRange room{buffer.get(), buffer.get() + kBufferSize};
    reader.readSome(room);
    std::size_t got = static_cast<std::size_t>(room.begin - buffer.get());
    if (got == 0) break;
    carry.append(reinterpret_cast<const char*>(buffer.get()), got);
    std::size_t at = 0;
    for (;;) {
      std::size_t end = carry.find('\0', at);
      if (end == std::string::npos) break;
      if (!headerSeen) {
        if (carry.compare(at, end - at, kJournalMagic) != 0) return Contents::Foreign;
        headerSeen = true;
      } else if (carry[at] == 'V' && end == at + 1) {
        verified = true;
      } else if (carry[at] == 'R') {
        std::size_t fromEnd = carry.find('\0', end + 1);
        if (fromEnd == std::string::npos) break;
        onPair(carry.substr(at + 1, end - at - 1), carry.substr(end + 1, fromEnd - end - 1));
        end = fromEnd;
      } else {
        return Contents::Journal;
      }
      at = end + 1;
    }
    carry.erase(0, at);
    if (carry.size() > kBufferSize) break;
  }
  if (headerSeen) return Contents::Journal;
  return std::strncmp(carry.c_str(), kJournalMagic, carry.size()) == 0 &&
                 carry.size() <= std::strlen(kJournalMagic)
             ? Contents::Unstarted
             : Contents::Foreign;
}

// Where the last separator of `path` is, or npos.
std::size_t lastSeparator(const std::string& path) {
  for (std::size_t i = path.size(); i > 0; --i) {
    if (isSeparator(path[i - 1])) return i - 1;
  }
  return std::string::npos;
}

// The place a record names, checked now: `to` strictly beneath the target,
// every directory on its way held (no link), and `from` a temporary name of
// `run` in that same directory. Sets `entry` (its leaf the name to replace
// in destination.parent()) and `waiting`.
bool placeOf(TargetDirectory& destination, const std::string& to, const std::string& from,
             const std::string& run, EntryTarget& entry, std::string& waiting) {
  if (to.empty() || !destination.admits(to.c_str(), entry)) return false;
  const std::size_t toCut = lastSeparator(to);
  const std::size_t fromCut = lastSeparator(from);
  if (toCut != fromCut || (toCut != std::string::npos && from.compare(0, toCut, to, 0, toCut) != 0)) {
    return false;
  }
  waiting = fromCut == std::string::npos ? from : from.substr(fromCut + 1);
  std::string maker;
  if (!isTemporaryName(waiting.c_str(), kWaitingExtension, maker) || maker != run) return false;
  entry.directory = false;
  return destination.holdParentOf(entry) == TargetDirectory::Parent::Held &&
         entry.leaf != waiting;
}

}  // namespace

ReplacementJournal::ReplacementJournal(TargetDirectory& destination) : destination_(destination) {}

ReplacementJournal::~ReplacementJournal() {
  if (!file_.isOpen()) return;
  if (!committed_) {
    // The run ends without a verified archive: every old file stays, and
    // what waited beside it goes.
    try {
      replay([this](const EntryTarget&, const std::string& waiting) {
        destination_.parent().deleteFile(waiting.c_str());
      });
    } catch (...) {
    }
  }
  finish();
}

void ReplacementJournal::open() {
  for (int attempt = 0; attempt < 1000; ++attempt) {
    std::string name = temporaryName(nextTemporary_, kJournalExtension);
    // Locked before anything is in it, so no run settling left journals
    // takes it for a killed run's.
    if (!file_.createPrivate(destination_.target(), name.c_str()) ||
        !file_.lockCreated(destination_.target(), name.c_str())) {
      continue;
    }
    // No entry of the archive may take the journal's place.
    FileIdentity mine;
    if (file_.identity(mine)) destination_.rememberWritten(mine);
    name_ = name;  // from here on, removed when the run ends
    isTemporaryName(name_.c_str(), kJournalExtension, run_);
    writer_.attach(file_, 0);
    writer_.write(ConstByteRange(reinterpret_cast<const uint8_t*>(kJournalMagic),
                                 reinterpret_cast<const uint8_t*>(kJournalMagic) +
                                     sizeof kJournalMagic));
    return;
  }
  throw FileIOError(0);
}

std::string ReplacementJournal::createWaiting(WritableFileHandle& out, const EntryTarget& target) {
  if (broken_) throw FileIOError(0);
  const std::string to = destination_.relativeText(target);
  const std::string directory = to.substr(0, to.size() - target.leaf.size());
  for (int attempt = 0; attempt < 1000; ++attempt) {
    std::string name = temporaryName(nextTemporary_, kWaitingExtension);
    // Written before the file exists, so a run killed at any point has
    // listed every waiting file it made. The page cache outlives a kill;
    // a power cut before the archive is verified only leaves old files.
    std::string record = "R" + to;
    record.push_back('\0');
    record += directory + name;
    record.push_back('\0');
    try {
      if (!file_.isOpen()) open();
      const uint8_t* bytes = reinterpret_cast<const uint8_t*>(record.data());
      writer_.write(ConstByteRange(bytes, bytes + record.size()));
    } catch (...) {
      broken_ = true;
      throw;
    }
    if (out.createNew(destination_.parent(), name.c_str())) return name;
  }
  throw FileIOError(0);
}

template <class Each>
void ReplacementJournal::replay(Each each) {
  bool verified = false;
  readRecords(file_, verified, [&](const std::string& to, const std::string& from) {
    EntryTarget entry;
    std::string waiting;
    if (!placeOf(destination_, to, from, run_, entry, waiting)) return;
    // Only what this run wrote: whatever else now stands at the waiting
    // name stays.
    FileIdentity identity;
    if (!queryFileIdentity(destination_.parent(), waiting.c_str(), identity) ||
        !destination_.writtenInThisRun(identity)) {
      return;
    }
    each(entry, waiting);
  });
}

unsigned ReplacementJournal::commit() {
  if (complete_ == 0) return 0;
  static const uint8_t kVerified[] = {'V', 0};
  writer_.write(ConstByteRange(kVerified, kVerified + sizeof kVerified));
  file_.flush();
  committed_ = true;
  unsigned moved = 0;
  replay([&](const EntryTarget& entry, const std::string& waiting) {
    try {
      replaceFile(destination_.parent(), waiting.c_str(), entry.leaf.c_str());
      ++moved;
    } catch (...) {
      destination_.parent().deleteFile(waiting.c_str());
    }
  });
  return complete_ > moved ? complete_ - moved : 0;
}

void ReplacementJournal::finish() noexcept {
  if (name_.empty()) return;
  try {
    file_.close();
  } catch (...) {
  }
  destination_.target().deleteFile(name_.c_str());
  name_.clear();
}

namespace {

void settleJournal(TargetDirectory& destination, const std::string& name) {
  std::string run;
  if (!isTemporaryName(name.c_str(), kJournalExtension, run)) return;
  // A live run holds its journal locked; one that cannot be locked at all
  // is left alone too.
  FileHandle journal;
  if (!journal.openLeftover(destination.target(), name.c_str())) return;
  bool verified = false;
  Contents contents = readRecords(journal, verified, [](const std::string&, const std::string&) {});
  if (contents == Contents::Foreign) return;
  unsigned moved = 0;
  bool again = false;  // the mark comes last: `verified` is known from the first pass
  readRecords(journal, again, [&](const std::string& to, const std::string& from) {
    EntryTarget entry;
    std::string waiting;
    if (!placeOf(destination, to, from, run, entry, waiting)) return;
    const platform::HeldDirectory& parent = destination.parent();
    if (examinePath(parent, waiting.c_str()) != PathKind::File) return;
    if (verified) {
      // The dead run had verified its archive and made its files durable:
      // its moves are completed.
      try {
        replaceFile(parent, waiting.c_str(), entry.leaf.c_str());
        ++moved;
        return;
      } catch (...) {
      }
    }
    parent.deleteFile(waiting.c_str());
  });
  // The moves are durable before the journal that would redo them goes.
  if (moved > 0) destination.flushWritten();
  journal.close();
  destination.target().deleteFile(name.c_str());
}

}  // namespace

void settleLeftJournals(TargetDirectory& destination) noexcept {
  try {
    if (!destination.holdTarget()) return;
    std::vector<std::string> journals;
    {
      DirectoryIterator listing;
      listing.open(destination.target(), "~vna*.jnl");
      for (; listing.isValid(); listing.next()) {
        std::string run;
        const char* name = listing.item().fileName();
        if (isTemporaryName(name, kJournalExtension, run)) journals.push_back(name);
      }
    }
    for (const std::string& name : journals) {
      try {
        settleJournal(destination, name);
      } catch (...) {
        // Left for a later run.
      }
    }
  } catch (...) {
  }
}

}  // namespace vna
