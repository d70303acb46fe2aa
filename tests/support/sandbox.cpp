// Built on the C++ standard library's <filesystem>, never on the OS seam
// that the tests check: a fault in the seam's listing, reading or removal
// cannot hide itself behind a helper that uses the same seam.
#include "sandbox.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

#include "platform_api.h"

namespace vna::test {

namespace fs = std::filesystem;

namespace {

// The system's paths join with "\"; on POSIX that is an ordinary character
// to the standard library, so it becomes "/" here.
fs::path native(const FilePath& path) {
  std::string text = path.text();
  if (!platform::kWindowsPaths) {
    for (char& c : text) {
      if (c == '\\') c = '/';
    }
  }
  return fs::path(text);
}

std::string temporaryBase() {
  if (platform::kWindowsPaths) {
    const char* temp = std::getenv("TEMP");
    return temp != nullptr ? temp : "C:\\";
  }
  std::error_code error;
  return fs::is_directory("/dev/shm", error) ? "/dev/shm" : "/tmp";
}

void collect(const fs::path& directory, const std::string& prefix,
             std::map<std::string, std::string>& out) {
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(directory, error)) {
    std::string name = entry.path().filename().string();
    if (entry.is_directory(error)) {
      out[prefix + name + "/"] = "";
      // A link to a directory is shown but not walked: it may lead back up.
      if (!entry.is_symlink(error)) collect(entry.path(), prefix + name + "/", out);
    } else {
      std::ifstream in(entry.path(), std::ios::binary);
      out[prefix + name] = std::string(std::istreambuf_iterator<char>(in), {});
    }
  }
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
  std::ofstream out(native(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw std::runtime_error("cannot write " + std::string(path.text()));
}

std::string readFile(const FilePath& path) {
  std::ifstream in(native(path), std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + std::string(path.text()));
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool exists(const FilePath& path) {
  std::error_code error;
  return fs::symlink_status(native(path), error).type() != fs::file_type::not_found &&
         !error;
}

bool isDirectory(const FilePath& path) {
  std::error_code error;
  return fs::is_directory(native(path), error);
}

void makeDirectory(const FilePath& path) {
  std::error_code error;
  fs::create_directory(native(path), error);
  if (!isDirectory(path)) throw std::runtime_error("cannot make " + std::string(path.text()));
}

void setReadOnly(const FilePath& path, bool readOnly) {
  const fs::perms write = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  std::error_code error;
  fs::permissions(native(path), readOnly ? write : fs::perms::owner_write,
                  readOnly ? fs::perm_options::remove : fs::perm_options::add, error);
}

bool renamePath(const FilePath& from, const FilePath& to) {
  std::error_code error;
  std::filesystem::rename(native(from), native(to), error);
  return !error;
}

bool makeLink(const FilePath& target, const FilePath& at, bool directory) {
  std::error_code error;
  if (directory) {
    fs::create_directory_symlink(native(target), native(at), error);
  } else {
    fs::create_symlink(native(target), native(at), error);
  }
  return !error && fs::is_symlink(fs::symlink_status(native(at), error));
}

void removeTree(const FilePath& path) {
  fs::path root = native(path);
  std::error_code error;
  // Read-only files and folders are made writable first, as Windows will
  // not delete them; links are removed, never followed.
  if (fs::is_directory(fs::symlink_status(root, error))) {
    for (fs::recursive_directory_iterator it(root, error), end; !error && it != end;
         it.increment(error)) {
      if (!it->is_symlink(error)) {
        fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, error);
      }
    }
  }
  error.clear();
  fs::permissions(root, fs::perms::owner_write, fs::perm_options::add, error);
  fs::remove_all(root, error);
}

std::map<std::string, std::string> snapshot(const FilePath& directory) {
  std::map<std::string, std::string> out;
  collect(native(directory), "", out);
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
