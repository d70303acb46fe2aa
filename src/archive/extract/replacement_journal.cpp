#include "archive/extract/replacement_journal.h"

#include <cstring>

#include "archive/checks/stream_crc.h"
#include "base/errors.h"
#include "platform/held_directory.h"

namespace vna {

namespace {

constexpr std::size_t kHeader = 7;

void put(std::string& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

void putText(std::string& out, const std::string& text) {
  put(out, text.size(), 2);
  out += text;
}

void putStamp(std::string& out, const FileStamp& stamp) {
  put(out, stamp.identity.volume, 4);
  put(out, stamp.identity.indexHigh, 4);
  put(out, stamp.identity.indexLow, 4);
  put(out, stamp.birth, 8);
  put(out, stamp.size, 8);
}

uint32_t checkOf(const uint8_t* begin, const uint8_t* end) {
  StreamCrc crc;
  crc.update(begin, end);
  return crc.final();
}

// Takes the fields of a payload in order; `ok` turns false for good when
// one would run past its end.
class Fields {
 public:
  Fields(const uint8_t* begin, const uint8_t* end) : at_(begin), end_(end) {}
  uint64_t number(int bytes) {
    if (!has(bytes)) return 0;
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value |= static_cast<uint64_t>(at_[i]) << (8 * i);
    at_ += bytes;
    return value;
  }
  std::string text() {
    std::size_t length = static_cast<std::size_t>(number(2));
    if (!has(length)) return std::string();
    std::string value(reinterpret_cast<const char*>(at_), length);
    at_ += length;
    return value;
  }
  FileStamp stamp() {
    FileStamp s;
    s.identity.volume = static_cast<uint32_t>(number(4));
    s.identity.indexHigh = static_cast<uint32_t>(number(4));
    s.identity.indexLow = static_cast<uint32_t>(number(4));
    s.birth = number(8);
    s.size = number(8);
    return s;
  }
  bool whole() const { return ok_ && at_ == end_; }

 private:
  bool has(std::size_t bytes) {
    ok_ = ok_ && static_cast<std::size_t>(end_ - at_) >= bytes;
    return ok_;
  }
  const uint8_t* at_;
  const uint8_t* end_;
  bool ok_ = true;
};

}  // namespace

namespace {

FileStamp stampFrom(const BY_HANDLE_FILE_INFORMATION& info, const platform::FileOrigin& origin) {
  FileStamp stamp;
  stamp.identity = FileIdentity{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
  stamp.birth = origin.birth;
  stamp.size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  return stamp;
}

}  // namespace

bool stampOf(const FileHandle& handle, FileStamp& out, bool* alone, bool privateMode) {
  BY_HANDLE_FILE_INFORMATION info;
  platform::FileOrigin origin;
  if (!handle.isOpen() || !GetFileInformationByHandle(handle.handle(), &info) ||
      !platform::queryOrigin(handle.handle(), &origin)) {
    return false;
  }
  if (alone != nullptr) {
    *alone = info.nNumberOfLinks == 1 &&
             (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
             origin.ownedByUser && (!privateMode || origin.privateMode);
  }
  out = stampFrom(info, origin);
  return true;
}

bool stampAt(const platform::HeldDirectory& directory, const char* name, FileStamp& out,
             DWORD& attributes) {
  BY_HANDLE_FILE_INFORMATION info;
  platform::FileOrigin origin;
  if (!directory.describe(name, &info, &origin)) return false;
  attributes = info.dwFileAttributes;
  out = stampFrom(info, origin);
  return true;
}

void JournalWriter::start(WritableFileHandle& file) {
  writer_.attach(file, 0);
  const uint8_t* magic = reinterpret_cast<const uint8_t*>(kJournalMagic);
  writer_.write(ConstByteRange(magic, magic + sizeof kJournalMagic));
}

void JournalWriter::add(const Replacement& record) {
  std::string payload;
  putText(payload, record.directory);
  putText(payload, record.target);
  putText(payload, record.waiting);
  putStamp(payload, record.waitingStamp);
  payload.push_back(record.standing ? 1 : 0);
  if (record.standing) putStamp(payload, record.standingStamp);
  frame(kReplacementRecord, payload);
}

void JournalWriter::addVerified() { frame(kVerifiedRecord, std::string()); }

void JournalWriter::frame(uint8_t type, const std::string& payload) {
  // Names are at most a few hundred bytes: a payload that does not fit its
  // length field is no record this program writes.
  if (payload.size() > 0xFFFF) throw FileIOError(0);
  std::string bytes(4, '\0');
  put(bytes, payload.size(), 2);
  bytes.push_back(static_cast<char>(type));
  bytes += payload;
  const uint8_t* begin = reinterpret_cast<const uint8_t*>(bytes.data());
  std::string check;
  put(check, checkOf(begin + 6, begin + bytes.size()), 4);
  bytes.replace(0, 4, check);
  // One write per record: a kill leaves it whole or cut, never interleaved.
  writer_.write(ConstByteRange(begin, begin + bytes.size()));
}

namespace {

// Whole records are read this much at a time: one read for hundreds.
constexpr std::size_t kReadAhead = 65536;

}  // namespace

JournalReader::Start JournalReader::start(const FileHandle& file) {
  reader_.attach(file, 0);
  buffer_.clear();
  at_ = 0;
  const bool whole = fill(sizeof kJournalMagic);
  if (std::memcmp(buffer_.data(), kJournalMagic, whole ? sizeof kJournalMagic : buffer_.size()) != 0) {
    return Start::Foreign;
  }
  if (!whole) return Start::Unstarted;
  at_ = sizeof kJournalMagic;
  return Start::Journal;
}

bool JournalReader::fill(std::size_t bytes) {
  if (buffer_.size() - at_ >= bytes) return true;
  buffer_.erase(0, at_);
  at_ = 0;
  while (buffer_.size() < bytes && reader_.hasMore()) {
    const std::size_t had = buffer_.size();
    const std::size_t want = (bytes > kReadAhead ? bytes : kReadAhead) - had;
    buffer_.resize(had + want);
    ByteRange room{reinterpret_cast<uint8_t*>(&buffer_[had]),
                   reinterpret_cast<uint8_t*>(&buffer_[had]) + want};
    uint8_t* const begin = room.begin;
    reader_.readSome(room);
    buffer_.resize(had + static_cast<std::size_t>(room.begin - begin));
    if (room.begin == begin) break;
  }
  return buffer_.size() >= bytes;
}

JournalReader::Next JournalReader::next(Replacement& out) {
  if (!fill(kHeader)) return Next::End;
  const uint8_t* header = reinterpret_cast<const uint8_t*>(buffer_.data() + at_);
  const std::size_t length = header[4] | (static_cast<std::size_t>(header[5]) << 8);
  if (!fill(kHeader + length)) return Next::End;
  header = reinterpret_cast<const uint8_t*>(buffer_.data() + at_);
  const uint8_t* body = header + 6;  // the type byte, then the payload
  const uint8_t* end = header + kHeader + length;
  const uint32_t stored = header[0] | (static_cast<uint32_t>(header[1]) << 8) |
                          (static_cast<uint32_t>(header[2]) << 16) |
                          (static_cast<uint32_t>(header[3]) << 24);
  if (checkOf(body, end) != stored) return Next::End;
  const uint8_t type = header[6];
  at_ += kHeader + length;
  if (type == kVerifiedRecord && length == 0) return Next::Verified;
  if (type != kReplacementRecord) return Next::End;
  Fields fields(body + 1, end);
  Replacement record;
  record.directory = fields.text();
  record.target = fields.text();
  record.waiting = fields.text();
  record.waitingStamp = fields.stamp();
  record.standing = fields.number(1) == 1;
  if (record.standing) record.standingStamp = fields.stamp();
  if (!fields.whole()) return Next::End;
  out = record;
  return Next::Replacement;
}

}  // namespace vna
