// The operating-system seam, POSIX side: the small subset of the Win32 file,
// directory, time-zone and volume services that the system calls, with the
// same names, types, constants and GetLastError codes, implemented over POSIX.
//
// Paths may use "\" or "/" as separators; "\" is turned into "/" before a
// path reaches the kernel. A listing of a directory shows every entry:
// symbolic links as reparse points (FILE_ATTRIBUTE_REPARSE_POINT, plus
// FILE_ATTRIBUTE_DIRECTORY when the link leads to a directory, tag
// IO_REPARSE_TAG_SYMLINK), FIFOs, sockets and device nodes with
// FILE_ATTRIBUTE_DEVICE. A lookup of one exact name follows a link, and
// shows only a directory or a regular file. Share modes are accepted but
// cannot be enforced.
//
// Symbolic links play the part of Windows reparse points: as on Windows,
// GetFileAttributesA acts on a link itself (FILE_ATTRIBUTE_REPARSE_POINT,
// plus FILE_ATTRIBUTE_DIRECTORY when it leads to a directory), and opening
// a path follows links. By path, files are only opened (OPEN_EXISTING) and
// directories only made: everything else, and every file made, goes by one
// name through the directory capability ("platform/held_directory.h"),
// which this seam implements over directory descriptors.
//
// Threads are not here: "platform/threads.h" is implemented directly over
// pthreads.
#pragma once

#include <climits>
#include <cstdint>

typedef uint32_t DWORD;
typedef int32_t LONG;
typedef int BOOL;
typedef uint16_t WORD;
typedef uint16_t WCHAR;
typedef char CHAR;
typedef void* HANDLE;
typedef uintptr_t DWORD_PTR;
typedef DWORD_PTR* PDWORD_PTR;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef const char* LPCSTR;
typedef char* LPSTR;
typedef DWORD* LPDWORD;
typedef LONG* PLONG;
typedef unsigned int UINT;
typedef BOOL* LPBOOL;
typedef const WCHAR* LPCWSTR;
typedef WCHAR* LPWSTR;
struct OVERLAPPED {
  DWORD_PTR Internal;
  DWORD_PTR InternalHigh;
  DWORD Offset;
  DWORD OffsetHigh;
  HANDLE hEvent;
};
typedef OVERLAPPED* LPOVERLAPPED;
struct SECURITY_ATTRIBUTES;
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260
#define WINAPI
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0u
#define WAIT_FAILED 0xFFFFFFFFu
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))

constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD FILE_SHARE_WRITE = 0x2;
constexpr DWORD FILE_SHARE_DELETE = 0x4;
// Asking only for a directory's listing or attributes opens like an access
// of 0.
constexpr DWORD FILE_LIST_DIRECTORY = 0x1;
constexpr DWORD FILE_READ_ATTRIBUTES = 0x80;
constexpr DWORD CREATE_NEW = 1;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x1;
constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x2;
constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x4;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD FILE_ATTRIBUTE_REPARSE_POINT = 0x400;
constexpr DWORD FILE_ATTRIBUTE_DEVICE = 0x40;
constexpr DWORD IO_REPARSE_TAG_SYMLINK = 0xA000000Cu;
#define IsReparseTagNameSurrogate(tag) (((tag) & 0x20000000u) != 0)
constexpr DWORD FILE_TYPE_UNKNOWN = 0;
constexpr DWORD FILE_TYPE_DISK = 1;
constexpr DWORD FILE_TYPE_CHAR = 2;
constexpr DWORD FILE_TYPE_PIPE = 3;
constexpr DWORD FILE_NAME_NORMALIZED = 0;
constexpr DWORD VOLUME_NAME_DOS = 0;
constexpr DWORD FILE_FLAG_BACKUP_SEMANTICS = 0x02000000;
constexpr DWORD FILE_FLAG_OPEN_REPARSE_POINT = 0x00200000;
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;
constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFFu;
constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFFu;
constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD TIME_ZONE_ID_UNKNOWN = 0;
constexpr DWORD TIME_ZONE_ID_STANDARD = 1;
constexpr DWORD TIME_ZONE_ID_DAYLIGHT = 2;

constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_INVALID_ACCESS = 12;
constexpr DWORD ERROR_INVALID_DRIVE = 15;
constexpr DWORD ERROR_NOT_SAME_DEVICE = 17;
constexpr DWORD ERROR_NO_MORE_FILES = 18;
constexpr DWORD ERROR_WRITE_PROTECT = 19;
constexpr DWORD ERROR_BAD_LENGTH = 24;
constexpr DWORD ERROR_SEEK = 25;
constexpr DWORD ERROR_SECTOR_NOT_FOUND = 27;
constexpr DWORD ERROR_WRITE_FAULT = 29;
constexpr DWORD ERROR_READ_FAULT = 30;
constexpr DWORD ERROR_GEN_FAILURE = 31;
constexpr DWORD ERROR_SHARING_VIOLATION = 32;
constexpr DWORD ERROR_LOCK_VIOLATION = 33;
constexpr DWORD ERROR_WRONG_DISK = 34;
constexpr DWORD ERROR_HANDLE_EOF = 38;
constexpr DWORD ERROR_HANDLE_DISK_FULL = 39;
constexpr DWORD ERROR_DUP_NAME = 52;
constexpr DWORD ERROR_BAD_NETPATH = 53;
constexpr DWORD ERROR_NETWORK_BUSY = 54;
constexpr DWORD ERROR_DEV_NOT_EXIST = 55;
constexpr DWORD ERROR_BAD_NET_RESP = 58;
constexpr DWORD ERROR_NETNAME_DELETED = 64;
constexpr DWORD ERROR_NETWORK_ACCESS_DENIED = 65;
constexpr DWORD ERROR_BAD_NET_NAME = 67;
constexpr DWORD ERROR_SHARING_PAUSED = 70;
constexpr DWORD ERROR_REQ_NOT_ACCEP = 71;
constexpr DWORD ERROR_FILE_EXISTS = 80;
constexpr DWORD ERROR_CANNOT_MAKE = 82;
constexpr DWORD ERROR_ALREADY_ASSIGNED = 85;
constexpr DWORD ERROR_INVALID_PASSWORD = 86;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_DISK_CHANGE = 107;
constexpr DWORD ERROR_DRIVE_LOCKED = 108;
constexpr DWORD ERROR_BUFFER_OVERFLOW = 111;
constexpr DWORD ERROR_DISK_FULL = 112;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_INVALID_NAME = 123;
constexpr DWORD ERROR_INVALID_LEVEL = 124;
constexpr DWORD ERROR_NO_VOLUME_LABEL = 125;
constexpr DWORD ERROR_NEGATIVE_SEEK = 131;
constexpr DWORD ERROR_SEEK_ON_DEVICE = 132;
constexpr DWORD ERROR_DIR_NOT_ROOT = 144;
constexpr DWORD ERROR_DIR_NOT_EMPTY = 145;
constexpr DWORD ERROR_LABEL_TOO_LONG = 154;
constexpr DWORD ERROR_BAD_PATHNAME = 161;
constexpr DWORD ERROR_LOCK_FAILED = 167;
constexpr DWORD ERROR_BUSY = 170;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
constexpr DWORD ERROR_META_EXPANSION_TOO_LONG = 208;
constexpr DWORD ERROR_FILE_TOO_LARGE = 223;
constexpr DWORD ERROR_DIRECTORY = 267;
constexpr DWORD ERROR_SWAPERROR = 999;
constexpr DWORD ERROR_IO_DEVICE = 1117;
constexpr DWORD ERROR_CANT_RESOLVE_FILENAME = 1921;

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

struct SYSTEMTIME {
  WORD wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
};

// The find data of both widths: the same fields, the names in CHAR or WCHAR.
template <typename Char>
struct FindDataOf {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  Char cFileName[MAX_PATH];
  Char cAlternateFileName[14];
};
typedef FindDataOf<CHAR> WIN32_FIND_DATAA;
typedef WIN32_FIND_DATAA* LPWIN32_FIND_DATAA;
typedef FindDataOf<WCHAR> WIN32_FIND_DATAW;
typedef WIN32_FIND_DATAW* LPWIN32_FIND_DATAW;

struct TIME_ZONE_INFORMATION {
  LONG Bias;
  WCHAR StandardName[32];
  SYSTEMTIME StandardDate;
  LONG StandardBias;
  WCHAR DaylightName[32];
  SYSTEMTIME DaylightDate;
  LONG DaylightBias;
};
typedef TIME_ZONE_INFORMATION* LPTIME_ZONE_INFORMATION;

struct BY_HANDLE_FILE_INFORMATION {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD dwVolumeSerialNumber;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD nNumberOfLinks;
  DWORD nFileIndexHigh;
  DWORD nFileIndexLow;
};
typedef BY_HANDLE_FILE_INFORMATION* LPBY_HANDLE_FILE_INFORMATION;

DWORD GetLastError();
void SetLastError(DWORD code);

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flags, HANDLE templateFile);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written,
               LPOVERLAPPED overlapped);
// FILE_BEGIN and a null distanceHigh only.
DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method);
DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh);
BOOL GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION info);
// FILE_TYPE_DISK for a regular file or directory, FILE_TYPE_PIPE for a FIFO
// or socket, FILE_TYPE_CHAR for a device.
DWORD GetFileType(HANDLE file);
// The path the OS reached the open file by, every link resolved. Returns
// its length (without the zero) when it fits `size`, else the size needed
// including the zero; 0 on failure.
DWORD GetFinalPathNameByHandleA(HANDLE file, LPSTR buffer, DWORD size, DWORD flags);
BOOL CloseHandle(HANDLE object);
// Makes the open file's data and size durable (fsync).
BOOL FlushFileBuffers(HANDLE file);
// An exclusive lock on the whole open file (flock), whatever range is
// asked, held until the handle is closed; LOCKFILE_EXCLUSIVE_LOCK is
// required. With LOCKFILE_FAIL_IMMEDIATELY a lock another open of the file
// holds fails with ERROR_LOCK_VIOLATION instead of waiting.
constexpr DWORD LOCKFILE_FAIL_IMMEDIATELY = 0x1;
constexpr DWORD LOCKFILE_EXCLUSIVE_LOCK = 0x2;
BOOL LockFileEx(HANDLE file, DWORD flags, DWORD reserved, DWORD bytesLow, DWORD bytesHigh,
                LPOVERLAPPED overlapped);

BOOL FindClose(HANDLE find);
// The same listing with UTF-16 names, in this seam's code page (below).
BOOL FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data);

// The ANSI code page of this seam holds every byte: byte b is U+00b (as
// ISO 8859-1), so a POSIX name of any bytes converts to UTF-16 and back
// unchanged. A character above U+00FF becomes the default character "?",
// reported through `usedDefault`; nothing is mapped by best fit.
constexpr UINT CP_ACP = 0;
constexpr DWORD WC_NO_BEST_FIT_CHARS = 0x400;
constexpr DWORD MB_ERR_INVALID_CHARS = 0x8;
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideLength, LPSTR out,
                        int outSize, LPCSTR defaultChar, LPBOOL usedDefault);
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR bytes, int length, LPWSTR out,
                        int outSize);

DWORD GetFileAttributesA(LPCSTR path);
BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES security);
DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer);
DWORD GetFullPathNameA(LPCSTR path, DWORD size, LPSTR buffer, LPSTR* filePart);

DWORD GetCurrentProcessId();

DWORD GetTimeZoneInformation(LPTIME_ZONE_INFORMATION info);
BOOL GetVolumeInformationA(LPCSTR root, LPSTR volumeName, DWORD volumeNameSize,
                           LPDWORD serial, LPDWORD maxComponent, LPDWORD flags,
                           LPSTR fileSystemName, DWORD fileSystemNameSize);

namespace vna::platform {
// Paths are rooted the POSIX way (a leading "/"); names such as CON or NUL
// are ordinary file names.
constexpr bool kWindowsPaths = false;
// Size of the buffers that hold a whole path (current directory, the
// directory iterator's entry path).
constexpr unsigned kPathBufferSize = PATH_MAX;

// The Win32 code with the same meaning as an errno value. The single place
// where POSIX errors are translated.
DWORD win32CodeForErrno(int error);
}  // namespace vna::platform
