#include "archive/extract/replacement_journal.h"

#include <cstring>
#include <string>

#include "fs/fs_ops.h"

namespace vna {

namespace {

// Journal records are written and read through one buffer of this size: a
// record (two paths and their terminators) always fits it.
constexpr std::size_t kBufferSize = 32768;

}  // namespace

ReplacementJournal::ReplacementJournal(TargetDirectory& destination, unsigned& nextTemporary)
    : destination_(destination), nextTemporary_(nextTemporary) {}

ReplacementJournal::~ReplacementJournal() {
  if (!file_.isOpen()) return;
  // The run ends without a verified archive: every old file stays.
  if (pending_) {
    try {
      replay([this](const FilePath&, const FilePath& waiting) {
        EntryTarget entry;
        entry.path = waiting;
        if (destination_.holdParentOf(entry) == TargetDirectory::Parent::Held) {
          removePathQuietly(destination_.parent(), entry.leaf.c_str());
        }
      });
    } catch (...) {
    }
  }
  discard();
}

void ReplacementJournal::discard() noexcept {
  try {
    file_.close();
  } catch (...) {
  }
  removePathQuietly(destination_.target(), name_.c_str());
}

void ReplacementJournal::add(const EntryTarget& target, const std::string& waiting) {
  if (!file_.isOpen()) {
    name_ = file_.createTemporaryIn(destination_.target(), nextTemporary_);
    // No entry of the archive may take the journal's place.
    FileIdentity identity;
    if (file_.identity(identity)) destination_.rememberWritten(identity);
    writer_.attach(file_, 0);
    buffer_.reset(new uint8_t[kBufferSize]);
  }
  pending_ = true;
  // Names hold no zero byte, so it ends each path.
  // Both as paths: the waiting file lies beside the file it replaces.
  const std::string& to = target.path.text();
  std::string from = to.substr(0, to.size() - target.leaf.size()) + waiting;
  if (used_ + to.size() + from.size() + 2 > kBufferSize) flush();
  std::memcpy(buffer_.get() + used_, to.c_str(), to.size() + 1);
  used_ += to.size() + 1;
  std::memcpy(buffer_.get() + used_, from.c_str(), from.size() + 1);
  used_ += from.size() + 1;
}

void ReplacementJournal::flush() {
  if (used_ == 0) return;
  writer_.write(ConstByteRange(buffer_.get(), buffer_.get() + used_));
  used_ = 0;
}

template <class Each>
void ReplacementJournal::replay(Each each) {
  pending_ = false;
  flush();
  FileReader reader;
  reader.attach(file_, 0);
  std::string carry;
  while (reader.hasMore()) {
    ByteRange room{buffer_.get(), buffer_.get() + kBufferSize};
    uint8_t* start = room.begin;
    reader.readSome(room);
    std::size_t got = static_cast<std::size_t>(room.begin - start);
    if (got == 0) break;
    carry.append(reinterpret_cast<const char*>(start), got);
    std::size_t at = 0;
    for (;;) {
      std::size_t toEnd = carry.find('\0', at);
      if (toEnd == std::string::npos) break;
      std::size_t fromEnd = carry.find('\0', toEnd + 1);
      if (fromEnd == std::string::npos) break;
      each(FilePath(carry.c_str() + at), FilePath(carry.c_str() + toEnd + 1));
      at = fromEnd + 1;
    }
    carry.erase(0, at);
  }
}

unsigned ReplacementJournal::commit() {
  if (!pending_) return 0;
  unsigned failures = 0;
  replay([&](const FilePath& target, const FilePath& waiting) {
    EntryTarget entry;
    entry.path = target;
    std::string waitingName = waiting.fileName();
    bool moved = false;
    bool held = false;
    try {
      // Held again now, so the move happens in the directories checked.
      held = destination_.holdParentOf(entry) == TargetDirectory::Parent::Held;
      if (held) {
        replaceFile(destination_.parent(), waitingName.c_str(), entry.leaf.c_str());
        moved = true;
      }
    } catch (...) {
    }
    if (!moved) {
      if (held) removePathQuietly(destination_.parent(), waitingName.c_str());
      ++failures;
    }
  });
  file_.close();  // its errors are the run's; discard then only removes
  discard();
  return failures;
}

}  // namespace vna
