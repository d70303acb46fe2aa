// Replacements of files that stood before an extraction run, held back until
// the whole archive has been verified, and what a killed run left of them.
//
// A file that already exists is replaced only once the archive has proved
// sound to its end (end record, end of file, check values): its new content
// waits beside it under a temporary name (~vna<pid>-<n>.tmp), and the pair is
// written to a journal file in the target directory (~vna<pid>-<n>.jnl)
// before the waiting file is created, so memory stays flat however many
// files are replaced and a run killed at any point leaves every waiting file
// listed. `commit` marks the journal verified, durably, then makes every
// move; a run that ends in any other way removes every waiting file and
// leaves each old one as it was.
//
// The journal's layout: the text kJournalMagic and a zero byte, then
// records: 'R', the path of the file to replace, a zero byte, the path of its
// waiting file, a zero byte; and last, once verified, 'V' and a zero byte.
// Paths are relative to the target, with the platform's separator. While its
// run lives, the journal is locked.
//
// Whatever a journal holds, it is acted on only beneath the held target,
// through directories held one by one (never through a link), and only on
// waiting files in the same directory as the file they replace, named as
// the run that wrote the journal names its temporaries. A run's own commit
// moves and removes only files of the identity it wrote.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "archive/extract/target_paths.h"
#include "fs/file_path.h"
#include "fs/file_streams.h"

namespace vna {

constexpr char kJournalMagic[] = "VNArchive replacement journal 1";

class ReplacementJournal {
 public:
  explicit ReplacementJournal(TargetDirectory& destination);
  ~ReplacementJournal();
  ReplacementJournal(const ReplacementJournal&) = delete;
  ReplacementJournal& operator=(const ReplacementJournal&) = delete;

  // Records that a waiting file is to take the place of `target` (its
  // parent held), then creates that file, new, in the parent into `out`;
  // returns its name. The errors of the journal file and of the create; a
  // journal that failed once refuses every later replacement, since its
  // end may hold a partial record.
  std::string createWaiting(WritableFileHandle& out, const EntryTarget& target);
  // The waiting file last created is complete, closed and remembered as
  // written by this run: it is to be moved.
  void waitingComplete() { ++complete_; }
  bool hasReplacements() const { return complete_ > 0; }
  // Once everything the run wrote is durable: marks the journal verified,
  // durably, then makes every move, in the order they were recorded, each
  // below directories held again at that moment. Returns how many complete
  // waiting files could not be moved (those are removed). The errors of
  // the mark leave every old file as it was.
  unsigned commit();
  // After commit and its flush: the journal is no longer needed.
  void finish() noexcept;

 private:
  // Calls `each(target, waitingName)` for every record that names a place
  // beneath the target whose parent is now held; `entry.leaf` is the name
  // to replace there.
  template <class Each>
  void replay(Each each);
  void open();

  TargetDirectory& destination_;
  unsigned nextTemporary_ = 0;
  WritableFileHandle file_;
  std::string name_;
  std::string run_;
  FileWriter writer_;
  unsigned complete_ = 0;
  bool broken_ = false;
  bool committed_ = false;
};

// Settles every journal that a killed run left in the target (one no live
// run holds locked): a verified one has its moves completed and made
// durable, any other has its waiting files removed; then the journal goes.
// Never throws: what cannot be settled is left for a later run.
void settleLeftJournals(TargetDirectory& destination) noexcept;

}  // namespace vna
