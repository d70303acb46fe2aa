// Where one extraction run puts its files, and what it does about what
// killed runs left: the whole replacement protocol.
//
// A file entry whose name is free is created in place, new. Where a file
// already stands, the new content waits beside it under a temporary name
// (<journal stem>-<k>.tmp) until the whole archive has been verified; then
// each waiting file takes its place. A failed entry, or a damaged archive,
// leaves every earlier file as it was and removes what waited.
//
// The run's journal (~vna<pid>-<n>.jnl in the target, mode 0600 on POSIX,
// locked while the run lives) is made, durably, before the first waiting
// file exists. Each record is written once its waiting file is complete and
// names only that file, by its stamp (identity, creation time, size), and
// the file that stood at the name it is to replace (identity and creation
// time), or nothing. A file is moved into
// place, by this run or by a later one settling a dead journal, only when
// the journal is verified, the waiting file still has the recorded stamp,
// is the user's own and no live process holds it locked, and the name
// still shows what the record saw. Otherwise a waiting file with the
// recorded stamp is removed and anything else is left alone: no later run
// reverts a newer file, and no file this program did not make is moved or
// removed.
//
// Before writing in a directory for the first time, the run settles every
// dead journal lying there (one no live run holds, a regular file with one
// name, on POSIX the user's own with mode 0600), whatever target the run
// that left it had. Such a journal stays until the run ends, so that the
// run also removes, in every directory it writes to below, the waiting
// files of that dead run that no record names (a record lost with a torn
// tail): files of that run's stem, the user's own, unlocked, with one name.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/extract/fingerprint_set.h"
#include "archive/extract/replacement_journal.h"
#include "archive/extract/target_directory.h"
#include "archive/stream/compressed_reader.h"
#include "fs/file_handle.h"

namespace vna {

// Whether an archive entry named `leaf` would take a name of the journal's
// or the temporaries' form (any letter case): such entries are refused.
bool isReservedName(const std::string& leaf);

class FilePlacer {
 public:
  FilePlacer(TargetDirectory& destination, const FileHandle& archive);
  // A run that did not commit: every waiting file goes, every earlier file
  // stays. Never throws.
  ~FilePlacer();
  FilePlacer(const FilePlacer&) = delete;
  FilePlacer& operator=(const FilePlacer&) = delete;

  // Holds the directories down to `entry`'s parent (TargetDirectory::
  // holdParentOf), first settling what dead runs left in each of them.
  TargetDirectory::HeldParent holdParentOf(EntryTarget& entry);

  // Writes one file entry's data; on any failure whatever stood at the
  // target before stays, the rest of the entry's data is read past and
  // false is returned.
  bool extract(CompressedStreamReader& reader, EntryTarget& target, uint32_t size);

  // Once the archive is verified: everything written is made durable, the
  // journal is marked verified, durably, then each waiting file takes its
  // place, durable too before this returns. Returns how many could not. A
  // failed flush or mark before the moves leaves every earlier file as it
  // was (the errors of the FileIOError family).
  unsigned commit();

 private:
  class Refused {};
  struct DeadJournal;
  enum class Settled { Moved, Removed, LeftAlone, Kept };

  bool mayReplace(const platform::HeldDirectory& parent, const EntryTarget& target,
                  FileStamp& standing, bool& known);
  std::string createWaiting(WritableFileHandle& out, const platform::HeldDirectory& parent);
  void openJournal();
  void record(const EntryTarget& target, const std::string& waiting, const FileStamp& written,
              bool standingKnown, const FileStamp& standing);

  // Holds the directory `path` (below the target; "" for the target) for
  // acting on `leaf` in it; null when it cannot be held.
  const platform::HeldDirectory* holdAt(const std::string& path, const std::string& leaf);
  void sweep(std::size_t level) noexcept;
  void settleJournal(const std::string& path, const std::string& name);
  // Acts on one record of a journal lying in `journalPath` made by the run
  // of `stem`.
  Settled settle(const Replacement& record, bool verified, const std::string& journalPath,
                 const std::string& stem);
  // Removes the journal of this run, or of a dead one, once every waiting
  // file it lists is gone. Never throws.
  void dropJournals(bool ownSettled) noexcept;
  bool remembered(const FileIdentity& file) const { return written_.contains(fingerprintOf(file)); }
  void remember(const FileIdentity& file) { written_.insert(fingerprintOf(file)); }

  TargetDirectory& destination_;
  FileIdentity archive_;
  bool archiveKnown_ = false;
  // Files this run wrote: no later entry replaces one.
  FingerprintSet written_;
  // Directories already settled, and how many holds of the target
  // directory had been made when every held level was last found settled.
  FingerprintSet swept_;
  unsigned long seenHolds_ = 0;

  WritableFileHandle journal_;
  JournalWriter writer_;
  std::string journalName_;
  std::string stem_;
  unsigned nextJournal_ = 0;
  unsigned nextWaiting_ = 0;
  unsigned complete_ = 0;
  bool broken_ = false;
  bool committed_ = false;

  std::vector<std::unique_ptr<DeadJournal>> dead_;
};

}  // namespace vna
