#include "extract_archive.h"

#include <cstring>
#include <memory>

#include "compressed_reader.h"
#include "entry_names.h"
#include "errors.h"
#include "file_item.h"
#include "file_streams.h"
#include "format.h"
#include "fs_ops.h"
#include "target_paths.h"
#include "timestamp.h"

namespace vna {

namespace {

constexpr uint32_t kDataBufferSize = 32768;
// File data is inflated in pieces this large (1 MiB) and written out in
// chunks of kDataBufferSize: zlib copies the last 32 KiB of each call's
// output into its window, which for 32 KiB calls is all of it.
constexpr uint32_t kInflatePiece = 32 * kDataBufferSize;

uint8_t readByte(CompressedStreamReader& reader) {
  uint8_t byte;
  reader.read(ByteRange{&byte, &byte + 1});
  return byte;
}

void skipData(CompressedStreamReader& reader, uint8_t* buffer, uint32_t& remaining) {
  while (remaining > 0) {
    uint32_t piece = remaining < kInflatePiece ? remaining : kInflatePiece;
    reader.read(ByteRange{buffer, buffer + piece});
    remaining -= piece;
  }
}

// A file that the OS will not replace because it is read-only, hidden or
// system is removed and the create is tried once more.
void createTarget(WritableFileHandle& out, const FilePath& path) {
  try {
    out.create(path);
  } catch (const FileIOError&) {
    DWORD attributes = GetFileAttributesA(path.text());
    const DWORD blocking = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
        (attributes & blocking) == 0) {
      throw;
    }
    removePath(path);
    out.create(path);
  }
}

// Writes one file entry's data; on any failure the target is removed, the
// rest of the entry's data is read past and false is returned.
bool extractFile(CompressedStreamReader& reader, const FilePath& path, uint32_t size,
                 uint8_t* buffer) {
  uint32_t remaining = size;
  {
    WritableFileHandle out;
    try {
      createTarget(out, path);
      FileWriter writer(out, 0);
      while (remaining > 0) {
        uint32_t piece = remaining < kInflatePiece ? remaining : kInflatePiece;
        reader.read(ByteRange{buffer, buffer + piece});
        remaining -= piece;
        for (uint32_t at = 0; at < piece; at += kDataBufferSize) {
          uint32_t chunk = piece - at < kDataBufferSize ? piece - at : kDataBufferSize;
          writer.write(ConstByteRange(buffer + at, buffer + at + chunk));
        }
      }
      out.close();
      return true;
    } catch (...) {
      // Whatever went wrong, this entry is lost but the run goes on.
      try {
        out.close();
      } catch (...) {
      }
      removePathQuietly(path);
    }
  }
  // Outside the guard: a damaged archive fails here for good.
  skipData(reader, buffer, remaining);
  return false;
}

// The timestamp is only validated, and the entries of one tree mostly share
// a few texts: a text equal to the last accepted one passes unparsed, since
// parsing the same bytes again can only accept them again.
class TimestampCheck {
 public:
  void check(const uint8_t* text, uint8_t length) {
    if (length == length_ && std::memcmp(text, text_, length) == 0) return;
    const char* begin = reinterpret_cast<const char*>(text);
    parseTimestamp(begin, begin + length);
    std::memcpy(text_, text, length);
    length_ = length;
  }

 private:
  uint8_t text_[255];
  uint8_t length_ = 0;
};

}  // namespace

unsigned extractEntries(const FilePath& archive, const FilePath& target,
                        const ExtractionLimit& limit) {
  FileHandle file(archive);
  CompressedStreamReader reader(file);
  if (limit.armed) reader.setByteLimit(limit.bytes);

  TargetDirectory destination(target);
  bool treeMode = false;
  unsigned failures = 0;
  char name[format::kMaxNameField + 1];
  std::unique_ptr<uint8_t[]> piece(new uint8_t[kInflatePiece]);
  uint8_t* data = piece.get();
  TimestampCheck lastTimestamp;

  for (;;) {
    if (readByte(reader) != format::kMarker) throw FormatError();
    uint8_t nameLength = readByte(reader);
    if (nameLength == 0) {
      if (reader.atEnd() && reader.checkValue() == reader.storedCheckValue()) return failures;
      throw FormatError();
    }
    reader.read(ByteRange{reinterpret_cast<uint8_t*>(name),
                          reinterpret_cast<uint8_t*>(name) + nameLength});
    name[nameLength] = '\0';
    uint8_t timestampLength = readByte(reader);
    if (timestampLength == 0) throw FormatError();
    reader.read(ByteRange{data, data + timestampLength});
    lastTimestamp.check(data, timestampLength);
    uint8_t sizeBytes[4];
    reader.read(ByteRange{sizeBytes, sizeBytes + 4});
    uint32_t size = format::decodeLittleEndian32(sizeBytes);

    Stringy base = entryBaseName(name);
    FilePath path;
    if (base.empty()) {
      if (size != 0) throw FormatError();
      Stringy relative = sanitizeEntryPath(name);
      if (destination.admits(relative.text(), path)) {
        ensureDirectory(path);
      } else {
        ++failures;
      }
      treeMode = true;
    } else {
      Stringy relative = treeMode ? sanitizeEntryPath(name) : base;
      if (destination.admits(relative.text(), path)) {
        if (!extractFile(reader, path, size, data)) ++failures;
      } else {
        ++failures;
        skipData(reader, data, size);
      }
    }
  }
}

void extractArchive(const FilePath& archive, const FilePath& target) {
  FileItem item;
  if (!item.lookup(archive)) throw ExceptionPL("Unable to open source location!\n");
  ensureDirectory(target);
  unsigned failures = 0;
  try {
    failures = extractEntries(archive, target, ExtractionLimit());
  } catch (const ExceptionPL&) {
    throw;
  } catch (const FormatError&) {
    throw ExceptionPL("Invalidly formatted VNArchive file.\n");
  }
  if (failures > 0) throw ExceptionPL("Some files could not be extracted.\n");
}

}  // namespace vna
