// A file made for a test as the program makes its files: by name in its
// held directory (the program has no other way to make one).
#pragma once

#include <string>

#include "base/errors.h"
#include "fs/file_handle.h"
#include "platform/held_directory.h"
#include "sandbox.h"

namespace vna::test {

// A new file at `path` (an earlier one removed first), open for reading and
// writing, made as the program makes its files: by name in its held
// directory.
class NewFile : public WritableFileHandle {
 public:
  explicit NewFile(const FilePath& path) {
    std::string text(path.text());
    std::string::size_type separator = text.find_last_of("\\/");
    removeTree(path);
    if (directory_.hold(text.substr(0, separator).c_str()) !=
            platform::HeldDirectory::Outcome::Held ||
        !createNew(directory_, text.substr(separator + 1).c_str())) {
      throw FileIOError(0);
    }
  }

 private:
  platform::HeldDirectory directory_;
};

}  // namespace vna::test
