// Replacements of files that stood before an extraction run, held back until
// the whole archive has been verified.
//
// A file that already exists is replaced only once the archive has proved
// sound to its end (end record, end of file, check values): its new content
// waits beside it under a temporary name, and the pair is written to a
// journal file in the target directory, so memory stays flat however many
// files are replaced. `commit` makes every move; a run that ends in any
// other way removes every waiting file and leaves each old one as it was.
//
// A run killed before `commit` leaves the old files untouched, the waiting
// ones beside them (~vna<pid>-<n>.tmp) and the journal (~vna<pid>-<n>.tmp in
// the target directory) that lists each waiting file with the name it was to
// take.
#pragma once

#include <cstdint>
#include <memory>

#include "archive/extract/target_paths.h"
#include "fs/file_path.h"
#include "fs/file_streams.h"

namespace vna {

class ReplacementJournal {
 public:
  // `nextTemporary` counts the temporary names of the run (the journal takes
  // one too).
  ReplacementJournal(TargetDirectory& destination, unsigned& nextTemporary);
  ~ReplacementJournal();
  ReplacementJournal(const ReplacementJournal&) = delete;
  ReplacementJournal& operator=(const ReplacementJournal&) = delete;

  // The file named `waiting` (complete and closed) in `target`'s held parent
  // is to take the place of `target`. The journal file is made in the target
  // directory at the first call. Errors of the journal file.
  void add(const EntryTarget& target, const std::string& waiting);
  bool hasReplacements() const { return pending_; }
  // Makes every move, in the order they were added, each below directories
  // held again at that moment; returns how many could not be made (their
  // waiting files are removed).
  unsigned commit();

 private:
  void flush();
  // Closes and removes the journal file.
  void discard() noexcept;
  // Calls `each(target, waiting)` for every pair, then removes the journal.
  template <class Each>
  void replay(Each each);

  TargetDirectory& destination_;
  unsigned& nextTemporary_;
  WritableFileHandle file_;
  std::string name_;
  FileWriter writer_;
  std::unique_ptr<uint8_t[]> buffer_;
  std::size_t used_ = 0;
  bool pending_ = false;
};

}  // namespace vna
