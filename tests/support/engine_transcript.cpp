#include "engine_transcript.h"

#include <memory>
#include <typeinfo>

#include "archive/stream/compressed_reader.h"
#include "base/demangle.h"
#include "base/errors.h"

namespace vna::test {

std::string readTranscript(const FilePath& archive, const InflaterEngine& engine,
                           const std::vector<std::size_t>& reads, int rounds) {
  std::string log;
  try {
    FileHandle file(archive);
    CompressedStreamReader reader(file, &engine);
    std::size_t largest = 0;
    for (std::size_t n : reads) largest = n > largest ? n : largest;
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[largest + 1]);
    for (int round = 0; round < rounds && largest > 0; ++round) {
      std::size_t n = reads[static_cast<std::size_t>(round) % reads.size()];
      if (n == 0) continue;
      reader.read(ByteRange{buffer.get(), buffer.get() + n});
      log += "read " + std::to_string(n) + '\n';
      log.append(reinterpret_cast<const char*>(buffer.get()), n);
      log += '\n';
    }
    log += reader.finishAtEnd() ? "at end\n" : "not at end\n";
    log += "check " + std::to_string(reader.checkValue()) + " stored " +
           std::to_string(reader.storedCheckValue()) + '\n';
  } catch (const UnexpectedEndOfCompressedFile&) {
    log += "error UnexpectedEndOfCompressedFile\n";
  } catch (const FileStartingBytesNotRecognized&) {
    log += "error FileStartingBytesNotRecognized\n";
  } catch (const FormatError&) {
    log += "error FormatError\n";
  } catch (const EndOfFileError&) {
    log += "error EndOfFileError\n";
  } catch (const FileIOError& e) {
    log += "error FileIOError " + std::to_string(e.code()) + '\n';
  } catch (const ExceptionPL& e) {
    log += std::string("error ") + readableClassName(typeid(e)) + '\n';
  }
  return log;
}

std::string archiveAround(const std::string& deflate) {
  return std::string("##SC001\0\0\0\0\0\x78\x9c", 14) + deflate;
}

}  // namespace vna::test
