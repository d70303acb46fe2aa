#include "fs/file_item.h"

#include <cctype>
#include <cstddef>
#include <cstring>
#include <ctime>

#include "base/errors.h"

namespace vna {

namespace {

// Per drive letter: 0 not yet asked, 1 FAT, 2 not FAT. Process-wide by the
// system's rule that each drive's file system is asked once per run: a
// volume does not change its kind while the program walks it.
unsigned char fatAnswers[26];

bool askVolumeIsFat(const char* root) {
  char fileSystem[64] = {0};
  DWORD flags = 0;
  if (!GetVolumeInformationA(root, nullptr, 0, nullptr, nullptr, &flags, fileSystem,
                             sizeof fileSystem)) {
    return false;
  }
  return std::tolower(static_cast<unsigned char>(fileSystem[0])) == 'f' &&
         std::tolower(static_cast<unsigned char>(fileSystem[1])) == 'a' &&
         std::tolower(static_cast<unsigned char>(fileSystem[2])) == 't';
}

}  // namespace

bool isDotName(const char* name) {
  return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

void FileItem::requireFound() const {
  if (!found_) throw FileItemError();
}

bool FileItem::isFile() const {
  requireFound();
  return (record_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool FileItem::isDirectory() const {
  requireFound();
  return (record_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         !isDotName(record_.cFileName);
}

bool FileItem::isLink() const {
  requireFound();
  // Other reparse points (placeholders of cloud files, deduplicated files)
  // stand for their own data and are files like any other. A reparse point
  // listed without its tag (Wine lists a Unix link so) is taken as a link.
  DWORD tag = record_.dwReserved0;
  return (record_.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
         (tag == 0 || IsReparseTagNameSurrogate(tag));
}

bool FileItem::isDevice() const {
  requireFound();
  return (record_.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) != 0;
}

const char* FileItem::fileName() const {
  requireFound();
  return record_.cFileName;
}

uint64_t FileItem::size() const {
  requireFound();
  return (static_cast<uint64_t>(record_.nFileSizeHigh) << 32) | record_.nFileSizeLow;
}

int64_t FileItem::modificationTime() const {
  requireFound();
  return fileTimeToMicroseconds(record_.ftLastWriteTime, isOnFatVolume(path_.text()));
}

DirectoryIterator::DirectoryIterator() : buffer_(new char[platform::kPathBufferSize]) {}

DirectoryIterator::~DirectoryIterator() { close(); }

void DirectoryIterator::close() {
  if (find_ != INVALID_HANDLE_VALUE) FindClose(find_);
  find_ = INVALID_HANDLE_VALUE;
  item_.found_ = false;
}

namespace {

// The name in the ANSI code page only when it converts exactly: no default
// character, no best-fit stand-in, and the same UTF-16 name back.
bool narrowExactly(const WCHAR* wide, char* out, int outSize) {
  BOOL usedDefault = FALSE;
  int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, out, outSize, nullptr,
                                   &usedDefault);
  if (length == 0 && GetLastError() == ERROR_INVALID_PARAMETER) {
    // A UTF-8 code page takes neither flag nor default character; the
    // round trip below still catches a name it cannot hold.
    length = WideCharToMultiByte(CP_ACP, 0, wide, -1, out, outSize, nullptr, nullptr);
  }
  if (length == 0 || usedDefault) return false;
  WCHAR back[MAX_PATH];
  int backLength = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, out, -1, back, MAX_PATH);
  if (backLength == 0) return false;
  for (int i = 0; i < backLength; ++i) {
    if (back[i] != wide[i]) return false;
  }
  return true;
}

}  // namespace

bool DirectoryIterator::placeName() {
  WIN32_FIND_DATAA& record = item_.record_;
  if (!narrowExactly(wide_.cFileName, record.cFileName, MAX_PATH)) return false;
  // The two records agree field for field up to the name.
  static_assert(offsetof(WIN32_FIND_DATAA, cFileName) == offsetof(WIN32_FIND_DATAW, cFileName),
                "find data of both widths share their leading fields");
  std::memcpy(&record, &wide_, offsetof(WIN32_FIND_DATAW, cFileName));
  std::size_t nameLength = std::strlen(record.cFileName);
  if (prefixLength_ + nameLength + 1 > platform::kPathBufferSize) return false;
  std::memcpy(buffer_.get() + prefixLength_, record.cFileName, nameLength + 1);
  item_.path_.assign(buffer_.get());
  item_.found_ = true;
  return true;
}

void DirectoryIterator::open(const platform::HeldDirectory& directory) {
  open(directory, "*.*");
}

void DirectoryIterator::open(const platform::HeldDirectory& directory, const char* pattern) {
  close();
  skipped_ = false;
  const std::string& text = directory.path();
  std::size_t length = text.size();
  // The directory, "\" and at least a one-byte name and terminator must fit.
  if (length + 3 > platform::kPathBufferSize) {
    skipped_ = true;
    return;
  }
  find_ = directory.findFirst(&wide_, pattern);
  if (find_ == INVALID_HANDLE_VALUE) {
    // Every directory but a drive root lists at least "."; a listing that
    // cannot start is a directory whose contents could not be read.
    skipped_ = true;
    return;
  }
  std::memcpy(buffer_.get(), text.data(), length);
  buffer_[length] = '\\';
  prefixLength_ = length + 1;
  if (!placeName()) {
    skipped_ = true;
    next();
  }
}

void DirectoryIterator::next() {
  while (find_ != INVALID_HANDLE_VALUE) {
    if (!FindNextFileW(find_, &wide_)) {
      if (GetLastError() != ERROR_NO_MORE_FILES) skipped_ = true;
      close();
      return;
    }
    if (placeName()) return;
    skipped_ = true;
  }
}

int64_t zoneBiasSeconds(DWORD code, const TIME_ZONE_INFORMATION& zone) {
  if (code == TIME_ZONE_ID_DAYLIGHT) {
    return zone.DaylightDate.wMonth != 0 && zone.DaylightBias != 0
               ? static_cast<int64_t>(zone.DaylightBias) * 60
               : 0;
  }
  if (code == TIME_ZONE_ID_STANDARD) {
    return zone.StandardDate.wMonth != 0 && zone.StandardBias != 0
               ? static_cast<int64_t>(zone.StandardBias) * 60
               : 0;
  }
  return 0;
}

// FAT stores local wall-clock times, and Windows turns them into a FILETIME
// with the zone's bias as it is now, not as it was on that date: a file
// written in summer and listed in winter comes out an hour off. This undoes
// today's bias and applies the one in force at the file's own date, so the
// archive holds the moment the file was really written.
int64_t fatCorrectedMicroseconds(int64_t v, DWORD code, const TIME_ZONE_INFORMATION& zone) {
  int64_t bias = zoneBiasSeconds(code, zone);
  int64_t corrected = v - bias * 1000000;
  int64_t seconds = corrected / 1000000;
  if (seconds < 0 || seconds > 2147483647) return corrected + bias * 1000000;
  time_t t = static_cast<time_t>(seconds);
  struct tm* broken = std::gmtime(&t);
  if (broken == nullptr) return corrected;
  struct tm calendar = *broken;
  calendar.tm_isdst = -1;
  if (std::mktime(&calendar) == static_cast<time_t>(-1) || calendar.tm_isdst != 1) {
    return corrected;
  }
  if ((code == TIME_ZONE_ID_STANDARD || code == TIME_ZONE_ID_DAYLIGHT) &&
      zone.DaylightDate.wMonth != 0 && zone.DaylightBias != 0) {
    corrected += static_cast<int64_t>(zone.DaylightBias) * 60000000;
  }
  return corrected;
}

int64_t fileTimeToMicroseconds(FILETIME time, bool onFat) {
  int64_t ticks = static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) |
                                       time.dwLowDateTime);
  int64_t v = (ticks - 116444736000000000LL) / 10;
  if (!onFat) return v;
  ZoneInformation zone = timeZoneInformation();
  return fatCorrectedMicroseconds(v, zone.code, zone.record);
}

ZoneInformation timeZoneInformation() {
  // Read once per process, by the system's rule: every time of one run is
  // corrected with the same zone, even if the machine's zone changes midway.
  static TIME_ZONE_INFORMATION record;
  static DWORD code = GetTimeZoneInformation(&record);
  return ZoneInformation{code, record};
}

bool isOnFatVolume(const char* path) {
  if (path == nullptr) return false;
  std::size_t length = std::strlen(path);
  if (length < 3) return false;
  if (path[1] == ':') {
    int letter = std::tolower(static_cast<unsigned char>(path[0]));
    if (letter < 'a' || letter > 'z') return false;
    unsigned char& answer = fatAnswers[letter - 'a'];
    if (answer == 0) {
      char root[4] = {path[0], path[1], path[2], '\0'};
      answer = askVolumeIsFat(root) ? 1 : 2;
    }
    return answer == 1;
  }
  UncRoot unc;
  if (parseUncRoot(path, unc) && unc.hasShare && unc.length < 258) {
    std::string root = "\\\\" + unc.server + "\\" + unc.share + "\\";
    return askVolumeIsFat(root.c_str());
  }
  return false;
}

}  // namespace vna
