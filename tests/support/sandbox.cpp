#include "sandbox.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "platform_api.h"

namespace vna::test {

namespace {

std::string temporaryBase() {
  if (platform::kWindowsPaths) {
    const char* temp = std::getenv("TEMP");
    return temp != nullptr ? temp : "C:\\";
  }
  DWORD shm = GetFileAttributesA("/dev/shm");
  if (shm != INVALID_FILE_ATTRIBUTES && (shm & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
      (shm & FILE_ATTRIBUTE_READONLY) == 0) {
    return "/dev/shm";
  }
  return "/tmp";
}

void collect(const FilePath& directory, const std::string& prefix,
             std::map<std::string, std::string>& out) {
  WIN32_FIND_DATAA data;
  std::string pattern = std::string(directory.text()) + "\\*.*";
  HANDLE find = FindFirstFileA(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    FilePath child(directory, name.c_str());
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      out[prefix + name + "/"] = "";
      collect(child, prefix + name + "/", out);
    } else {
      out[prefix + name] = readFile(child);
    }
  } while (FindNextFileA(find, &data));
  FindClose(find);
}

}  // namespace

Sandbox::Sandbox() {
  static unsigned counter = 0;
  auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  std::string name = "vna-test-" + std::to_string(static_cast<unsigned long long>(stamp)) + "-" +
                     std::to_string(++counter);
  root_ = FilePath(FilePath(temporaryBase().c_str()), name.c_str());
  makeDirectory(root_);
}

Sandbox::~Sandbox() { removeTree(root_); }

void writeFile(const FilePath& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.text(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    throw std::runtime_error("cannot create " + std::string(path.text()) + ": " +
                             std::to_string(GetLastError()));
  }
  DWORD written = 0;
  BOOL ok = bytes.empty() || WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()),
                                       &written, nullptr);
  CloseHandle(file);
  if (!ok || (!bytes.empty() && written != bytes.size())) {
    throw std::runtime_error("cannot write " + std::string(path.text()));
  }
}

std::string readFile(const FilePath& path) {
  HANDLE file = CreateFileA(path.text(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    throw std::runtime_error("cannot open " + std::string(path.text()));
  }
  std::string result;
  std::vector<char> buffer(65536);
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr) ||
        read == 0) {
      break;
    }
    result.append(buffer.data(), read);
  }
  CloseHandle(file);
  return result;
}

bool exists(const FilePath& path) { return GetFileAttributesA(path.text()) != INVALID_FILE_ATTRIBUTES; }

bool isDirectory(const FilePath& path) {
  DWORD attributes = GetFileAttributesA(path.text());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void makeDirectory(const FilePath& path) {
  if (!CreateDirectoryA(path.text(), nullptr) && !isDirectory(path)) {
    throw std::runtime_error("cannot make " + std::string(path.text()));
  }
}

void setReadOnly(const FilePath& path, bool readOnly) {
  DWORD attributes = GetFileAttributesA(path.text());
  DWORD wanted = readOnly ? (attributes | FILE_ATTRIBUTE_READONLY)
                          : (attributes & ~FILE_ATTRIBUTE_READONLY);
  if (wanted == 0) wanted = FILE_ATTRIBUTE_NORMAL;
  SetFileAttributesA(path.text(), wanted);
}

void removeTree(const FilePath& path) {
  DWORD attributes = GetFileAttributesA(path.text());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    setReadOnly(path, false);
    DeleteFileA(path.text());
    return;
  }
  WIN32_FIND_DATAA data;
  std::string pattern = std::string(path.text()) + "\\*.*";
  std::vector<std::string> names;
  HANDLE find = FindFirstFileA(pattern.c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      if (std::strcmp(data.cFileName, ".") != 0 && std::strcmp(data.cFileName, "..") != 0) {
        names.push_back(data.cFileName);
      }
    } while (FindNextFileA(find, &data));
    FindClose(find);
  }
  for (const std::string& name : names) removeTree(FilePath(path, name.c_str()));
  setReadOnly(path, false);
  RemoveDirectoryA(path.text());
}

std::map<std::string, std::string> snapshot(const FilePath& directory) {
  std::map<std::string, std::string> out;
  collect(directory, "", out);
  return out;
}

std::string randomBytes(std::size_t count, uint32_t seed) {
  std::string out(count, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (std::size_t i = 0; i < count; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    out[i] = static_cast<char>(x >> 24);
  }
  return out;
}

}  // namespace vna::test
