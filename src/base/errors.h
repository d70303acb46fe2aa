// The error classes of the system's own conditions, thrown by value and
// caught by reference. Only ExceptionPL carries a text for the user; every
// other exception (these classes, each named after its condition, and the
// C++ library's own, such as std::bad_alloc) reaches the user as "Unknown
// exception.".
#pragma once

#include <cstdint>
#include <exception>

namespace vna {

class ExceptionPL {
 public:
  // Owns an independent copy of `text` (NUL-terminated, never null).
  explicit ExceptionPL(const char* text);
  ExceptionPL(const ExceptionPL& other);
  ExceptionPL& operator=(const ExceptionPL&) = delete;
  virtual ~ExceptionPL();
  virtual const char* what() const;

 private:
  char* text_;
};

// what() names the most-derived class: "class DataOverflow".
class DebuggableException : public std::exception {
 public:
  const char* what() const noexcept override;
};
class DataOverflow : public DebuggableException {};
class ParsingFailure : public DebuggableException {};
class DataTooSmall : public DebuggableException {};

// Carries the Win32 code of the OS call that failed, or 0 where the failure
// was found without one (the subclasses below). The program shows none of
// it; the code is there for whoever debugs a failure.
class FileIOError {
 public:
  explicit FileIOError(uint32_t code) : code_(code) {}
  uint32_t code() const { return code_; }

 private:
  uint32_t code_;
};
#define VNA_FILE_IO_SUBCLASS(Name) \
  class Name : public FileIOError { \
   public:                          \
    Name() : FileIOError(0) {}      \
  };
VNA_FILE_IO_SUBCLASS(FileNotFoundError)
VNA_FILE_IO_SUBCLASS(DirectoryNotFoundError)
VNA_FILE_IO_SUBCLASS(FilePermissionError)
VNA_FILE_IO_SUBCLASS(FileLockError)
VNA_FILE_IO_SUBCLASS(DiskFullError)
VNA_FILE_IO_SUBCLASS(FileFoundError)
VNA_FILE_IO_SUBCLASS(FileSeekError)
VNA_FILE_IO_SUBCLASS(EndOfFileError)
#undef VNA_FILE_IO_SUBCLASS

class FormatError {};
class FileStartingBytesNotRecognized : public FormatError {};
class UnexpectedEndOfCompressedFile : public FormatError {};

class InvalidTime {
 protected:
  InvalidTime() = default;
};
class NoSuchDate : public InvalidTime {};
class NoSuchTimeOfDay : public InvalidTime {};
class WrongDayOfWeek : public InvalidTime {};
class NoTimeZone : public InvalidTime {};

class FileItemError {};
class ArchiveWriterError {};
class DeflateInitError {};
class DeflateError {};
class StringyLengthTooLong {};
class StackFull {};

}  // namespace vna
