// What the archive reader does with one file when a given inflater decodes
// it, written down so that two engines can be compared line by line.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "archive/inflate/inflater.h"
#include "fs/file_path.h"

namespace vna::test {

// Reads `archive` through CompressedStreamReader with `engine`, asking for
// `reads` bytes at a time in turn (round after round, at most `rounds`
// reads), then runs the end test and takes the check value. One line per
// step: "read N" and the N bytes delivered, or the class of the error
// thrown; the reading stops at the first error.
std::string readTranscript(const FilePath& archive, const InflaterEngine& engine,
                           const std::vector<std::size_t>& reads, int rounds);

// The archive file around a deflate body: the 12-byte header (check value
// zero), the zlib header 78 9C, then `deflate` as it stands.
std::string archiveAround(const std::string& deflate);

}  // namespace vna::test
