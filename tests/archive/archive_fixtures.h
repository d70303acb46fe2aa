// Building archives byte by byte for the archive tests.
#pragma once

#include <cstdint>
#include <string>

#include "archive/stream/compressed_writer.h"
#include "base/errors.h"
#include "fs/file_handle.h"
#include "new_file.h"
#include "sandbox.h"

namespace vna::test {


inline std::string be32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (24 - 8 * i));
  return s;
}

inline std::string le32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
  return s;
}

// One entry record with the given stored name (without its NUL).
inline std::string record(const std::string& name, const std::string& data,
                          const std::string& stamp = "Fri, 05 Mar 2004 14:07:09 +0000") {
  std::string r = "_";
  r += static_cast<char>(name.size() + 1);
  r += name;
  r += '\0';
  r += static_cast<char>(stamp.size());
  r += stamp;
  r += le32(static_cast<uint32_t>(data.size()));
  r += data;
  return r;
}

inline const std::string kEndRecord("_\0", 2);

// What a command tells the user: "" when it succeeds, the ExceptionPL text,
// or "other" for any other error (which the front end reports as "Unknown
// exception.").
template <class Command>
std::string outcomeOf(Command command) {
  try {
    command();
    return "";
  } catch (const ExceptionPL& e) {
    return e.what();
  } catch (...) {
    return "other";
  }
}

// A compressed archive whose body holds exactly `records`, written by the
// system's own stream writer.
inline void writeArchive(const FilePath& path, const std::string& records) {
  NewFile file(path);
  CompressedStreamWriter writer(file);
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(records.data());
  writer.write(ConstByteRange(bytes, bytes + records.size()));
  writer.finish();
  file.close();
}

}  // namespace vna::test
