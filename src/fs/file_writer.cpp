#include "fs/file_writer.h"

#include "fs/error_tables.h"

namespace vna {

void FileWriter::write(ConstByteRange range) {
  handle_->seek(position_);
  DWORD written = 0;
  DWORD length = static_cast<DWORD>(range.length());
  if (!WriteFile(handle_->handle(), range.begin, length, &written, nullptr)) {
    mapWriteError(GetLastError());
  }
  // The OS taking fewer bytes than asked means they are not on disk.
  if (written != length) throw DiskFullError();
  position_ += length;
}

}  // namespace vna
