#include "fs/file_reader.h"

#include "fs/error_tables.h"

namespace vna {

void FileReader::attach(const FileHandle& handle, uint32_t position) {
  handle_ = &handle;
  size_ = handle.size();
  position_ = position;
}

uint32_t FileReader::readAt(ByteRange range) {
  handle_->seek(position_);
  DWORD read = 0;
  if (!ReadFile(handle_->handle(), range.begin, static_cast<DWORD>(range.length()), &read,
                nullptr)) {
    mapReadError(GetLastError());
  }
  position_ += read;
  return read;
}

void FileReader::readSome(ByteRange& range) { range.begin += readAt(range); }

void FileReader::readExact(ByteRange range) {
  if (readAt(range) != range.length()) throw EndOfFileError();
}

}  // namespace vna
