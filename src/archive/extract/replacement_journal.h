// The replacement journal's file: its layout, its writer and its reader.
//
// The file starts with kJournalMagic (its terminating zero included), then
// holds framed records, each:
//   check   4 bytes  CRC-32/BZIP2 of the type and payload bytes, little-endian
//   length  2 bytes  payload length, little-endian
//   type    1 byte   kReplacementRecord or kVerifiedRecord
//   payload length bytes
// A reader stops at the first frame that is cut, fails its check or has an
// unknown type: a run killed or a machine cut off while the tail was being
// written loses that tail, never what came before it (a zero-filled tail
// fails its check: the CRC of a zero type byte is not zero).
//
// A Replacement's payload: three texts, each a 2-byte length then its bytes
// (the directory below the journal's own, names joined by the platform's
// separator, empty for the journal's own directory; the name to replace there; the waiting
// file's name there), then the waiting file's stamp, then one byte, 1 when a
// file stood at the name when the record was written and 0 when nothing
// did, and that file's stamp when one stood. A stamp is 32 bytes: volume,
// index high and index low (4 bytes each), the creation time and the size
// (8 bytes each), all little-endian.
// A Verified record has no payload.
#pragma once

#include <cstdint>
#include <string>

#include "fs/file_handle.h"
#include "fs/file_reader.h"
#include "fs/file_writer.h"

namespace vna {

constexpr char kJournalMagic[] = "VNArchive replacement journal 2";
constexpr uint8_t kReplacementRecord = 1;
constexpr uint8_t kVerifiedRecord = 2;

// What tells one file from every other: its identity, and its creation
// time, which changes when a freed file index is given to a new file; and
// its size.
struct FileStamp {
  FileIdentity identity;
  uint64_t birth = 0;
  uint64_t size = 0;
  bool operator==(const FileStamp& o) const {
    return identity == o.identity && birth == o.birth && size == o.size;
  }
  bool operator!=(const FileStamp& o) const { return !(*this == o); }
};

// The stamp of the open file `handle` (any handle, also one without data
// access); false when the OS cannot say. `alone`, when given, is set to
// whether it is a regular file with one name, the user's own (and, with
// `privateMode`, open to no other user): what this program makes.
bool stampOf(const FileHandle& handle, FileStamp& out, bool* alone = nullptr,
             bool privateMode = false);
// The same for what stands at `name` in `directory` (a link is not
// followed), with its attributes as GetFileAttributesA gives them; false
// with the Win32 error (ERROR_FILE_NOT_FOUND when nothing stands there).
bool stampAt(const platform::HeldDirectory& directory, const char* name, FileStamp& out,
             DWORD& attributes);

struct Replacement {
  std::string directory;
  std::string target;
  std::string waiting;
  FileStamp waitingStamp;
  bool standing = false;
  FileStamp standingStamp;
};

// Appends records to a journal file it is given, from its start.
class JournalWriter {
 public:
  // Writes the magic at the start of `file`; the write table's errors.
  void start(WritableFileHandle& file);
  void add(const Replacement& record);
  void addVerified();

 private:
  void frame(uint8_t type, const std::string& payload);

  FileWriter writer_;
};

// Reads a journal file from its start, one record at a time, through a
// buffer of bounded size.
class JournalReader {
 public:
  // What the file holds at its start: the whole magic; a part of it, as a
  // run killed while it wrote the magic leaves (before any waiting file);
  // or anything else, a file of someone else's.
  enum class Start { Journal, Unstarted, Foreign };
  // Records follow only after Journal.
  Start start(const FileHandle& file);
  enum class Next { Replacement, Verified, End };
  // The next whole record (a Replacement fills `out`); End at the end of
  // the file or of the last whole record.
  Next next(Replacement& out);

 private:
  // Makes at least `bytes` unread bytes stand in the buffer, if the file
  // has them.
  bool fill(std::size_t bytes);

  FileReader reader_;
  std::string buffer_;
  std::size_t at_ = 0;
};

}  // namespace vna
