// Rules of the POSIX side of the seam that have no Windows counterpart to
// compare with: the errno mapping, separators, and what a listing shows.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/held_directory.h"
#include "platform_api.h"
#include "posix_internal.h"
#include "sandbox.h"

namespace vna::test {
namespace {

std::string native(const FilePath& path) {
  std::string text = path.text();
  for (char& c : text) {
    if (c == '\\') c = '/';
  }
  return text;
}

TEST(PosixSeam, ErrnoMapsToTheWin32CodeOfTheSameMeaning) {
  struct Case {
    int error;
    DWORD code;
  } cases[] = {{ENOENT, 2},  {ENOTDIR, 3},   {EACCES, 5},        {EPERM, 5},  {EEXIST, 183},
               {ENOSPC, 112}, {ENAMETOOLONG, 206}, {EMFILE, 4}, {ENFILE, 4}, {EROFS, 19},
               {ENOTEMPTY, 145}, {0, 0}};
  for (const Case& c : cases) EXPECT_EQ(platform::win32CodeForErrno(c.error), c.code) << c.error;
}

TEST(PosixSeam, RealCallsReportNameTooLong) {
  Sandbox box;
  std::string longName(300, 'n');
  HANDLE h = CreateFileA(box.path(longName.c_str()).text(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_EQ(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILENAME_EXCED_RANGE);
}

TEST(PosixSeam, BackslashesAreSeparators) {
  Sandbox box;
  makeDirectory(box.path("d"));
  writeFile(FilePath((std::string(box.root().text()) + "\\d\\f.txt").c_str()), "x");
  struct stat st;
  EXPECT_EQ(stat((native(box.root()) + "/d/f.txt").c_str(), &st), 0);
}

TEST(PosixSeam, ListingShowsLinksAsReparsePointsAndSpecialFilesAsDevices) {
  Sandbox box;
  std::string root = native(box.root());
  writeFile(box.path("real.txt"), "r");
  makeDirectory(box.path("realdir"));
  ASSERT_EQ(symlink((root + "/real.txt").c_str(), (root + "/link.txt").c_str()), 0);
  ASSERT_EQ(symlink((root + "/realdir").c_str(), (root + "/linkdir").c_str()), 0);
  ASSERT_EQ(symlink((root + "/gone").c_str(), (root + "/broken").c_str()), 0);
  ASSERT_EQ(mkfifo((root + "/fifo").c_str(), 0600), 0);

  const DWORD link = FILE_ATTRIBUTE_REPARSE_POINT;
  const DWORD kinds = link | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE;
  std::map<std::string, DWORD> listed;
  vna::platform::HeldDirectory held;
  ASSERT_EQ(held.hold(box.root().text()), vna::platform::HeldDirectory::Outcome::Held);
  WIN32_FIND_DATAW data;
  HANDLE find = held.findFirst(&data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  do {
    std::string name;
    for (const WCHAR* c = data.cFileName; *c != 0; ++c) name += static_cast<char>(*c);
    listed[name] = data.dwFileAttributes & kinds;
    if ((data.dwFileAttributes & link) != 0) {
      EXPECT_EQ(data.dwReserved0, IO_REPARSE_TAG_SYMLINK) << name;
    }
    if (name == "link.txt") {
      EXPECT_EQ(data.nFileSizeLow, 1u);
    }
  } while (FindNextFileW(find, &data));
  FindClose(find);
  EXPECT_EQ(listed, (std::map<std::string, DWORD>{{".", FILE_ATTRIBUTE_DIRECTORY},
                                                  {"..", FILE_ATTRIBUTE_DIRECTORY},
                                                  {"real.txt", 0},
                                                  {"realdir", FILE_ATTRIBUTE_DIRECTORY},
                                                  {"link.txt", link},
                                                  {"linkdir", link | FILE_ATTRIBUTE_DIRECTORY},
                                                  {"broken", link},
                                                  {"fifo", FILE_ATTRIBUTE_DEVICE}}));

  // A file opened through a link is named by where it really is.
  HANDLE file = CreateFileA((root + "/link.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  char reached[MAX_PATH];
  ASSERT_GT(GetFinalPathNameByHandleA(file, reached, sizeof reached, 0), 0u);
  EXPECT_EQ(std::string(reached), root + "/real.txt");
  EXPECT_EQ(GetFinalPathNameByHandleA(file, reached, 3, 0), root.size() + 10);
  CloseHandle(file);

  // Opening the FIFO must not block, and it is not a file to read.
  EXPECT_EQ(CreateFileA((root + "/fifo").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
            INVALID_HANDLE_VALUE);
  // Links are removed here: the sandbox cleanup follows links.
  for (const char* name : {"/link.txt", "/linkdir", "/broken", "/fifo"}) unlink((root + name).c_str());
}

std::size_t openDescriptors() {
  std::size_t count = 0;
  for (auto it = std::filesystem::directory_iterator("/proc/self/fd");
       it != std::filesystem::directory_iterator(); ++it) {
    ++count;
  }
  return count;
}

TEST(PosixSeam, ListingHoldsAtMostOneFileOpenAndNoneAfterwards) {
  // A listed regular file is kept open for the open that usually follows;
  // a listing that nobody opens from must not pile descriptors up.
  Sandbox box;
  for (int i = 0; i < 40; ++i) writeFile(box.path(("f" + std::to_string(i)).c_str()), "x");
  vna::platform::HeldDirectory held;
  ASSERT_EQ(held.hold(box.root().text()), vna::platform::HeldDirectory::Outcome::Held);
  // The seam keeps one descriptor of its own from its first reopen on.
  CloseHandle(held.createFile("f0", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0));
  const std::size_t before = openDescriptors();
  ASSERT_GT(before, 0u);
  WIN32_FIND_DATAW data;
  HANDLE find = held.findFirst(&data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  std::size_t most = 0;
  int listed = 0;
  do {
    ++listed;
    std::size_t now = openDescriptors();
    if (now > most) most = now;
  } while (FindNextFileW(find, &data));
  EXPECT_EQ(listed, 42);
  EXPECT_LE(most, before + 2) << "the listing and one file at most";
  FindClose(find);
  EXPECT_EQ(openDescriptors(), before);

  // Stopping half-way releases the held file too.
  find = held.findFirst(&data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(FindNextFileW(find, &data));
  ASSERT_TRUE(FindNextFileW(find, &data));
  FindClose(find);
  EXPECT_EQ(openDescriptors(), before);
}

// Lists `directory` up to the entry `name`, which the listing then holds.
HANDLE listUpTo(const vna::platform::HeldDirectory& directory, const char* name) {
  WIN32_FIND_DATAW data;
  HANDLE find = directory.findFirst(&data);
  auto listedName = [&] {
    std::string text;
    for (const WCHAR* c = data.cFileName; *c != 0; ++c) text += static_cast<char>(*c);
    return text;
  };
  while (find != INVALID_HANDLE_VALUE && listedName() != name) {
    if (!FindNextFileW(find, &data)) {
      FindClose(find);
      return INVALID_HANDLE_VALUE;
    }
  }
  return find;
}

std::string readThroughSeam(const vna::platform::HeldDirectory& directory, const char* name) {
  HANDLE file = directory.createFile(name, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                                     FILE_FLAG_OPEN_REPARSE_POINT);
  if (file == INVALID_HANDLE_VALUE) return "(no open)";
  std::string bytes(GetFileSize(file, nullptr), '\0');
  DWORD read = 0;
  if (!bytes.empty()) ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr);
  CloseHandle(file);
  return bytes.substr(0, read);
}

TEST(PosixSeam, ChangesByAnotherProcessAfterTheListingAreReadAsDocumented) {
  Sandbox box;
  writeFile(box.path("replaced.txt"), "as listed");
  writeFile(box.path("rewritten.txt"), "as listed");
  writeFile(box.path("linked.txt"), "as listed");
  makeDirectory(box.path("outside"));
  writeFile(box.path("outside\\secret"), "secret");
  struct Case {
    const char* name;
    const char* change;  // run by another process, in the sandbox
    const char* read;
  } cases[] = {
      {"replaced.txt", "printf 'a new file' > new.tmp && mv new.tmp replaced.txt", "as listed"},
      {"rewritten.txt", "printf 'rewritten in place' > rewritten.txt", "rewritten"},
      // A link put at a listed name: the listing's file while it holds it,
      // then the link itself, never the file it leads to.
      {"linked.txt", "ln -sf outside/secret linked.tmp && mv linked.tmp linked.txt", "as listed"},
  };
  vna::platform::HeldDirectory held;
  ASSERT_EQ(held.hold(box.root().text()), vna::platform::HeldDirectory::Outcome::Held);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HANDLE find = listUpTo(held, c.name);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    std::string command = "cd '" + native(box.root()) + "' && " + c.change;
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(readThroughSeam(held, c.name), c.read);
    FindClose(find);
    // Once the listing has moved on, the open sees the file as it is.
    EXPECT_NE(readThroughSeam(held, c.name), "as listed");
  }
  EXPECT_EQ(readThroughSeam(held, "linked.txt"), "") << "still the link, not its file";
  unlink(native(box.path("linked.txt")).c_str());
}

// Replacing a read-only file renames over its name alone: a hard link to it
// elsewhere keeps its content and its mode.
TEST(PosixSeam, ReplacingAReadOnlyFileLeavesItsOtherNamesAlone) {
  Sandbox box;
  makeDirectory(box.path("d"));
  writeFile(box.path("d\\old"), "old");
  writeFile(box.path("d\\new"), "new");
  ASSERT_EQ(link(native(box.path("d\\old")).c_str(), native(box.path("elsewhere")).c_str()), 0);
  ASSERT_EQ(chmod(native(box.path("d\\old")).c_str(), 0444), 0);
  vna::platform::HeldDirectory held;
  ASSERT_EQ(held.hold(box.path("d").text()), vna::platform::HeldDirectory::Outcome::Held);
  ASSERT_TRUE(held.replaceFile("new", "old"));
  EXPECT_EQ(readFile(box.path("d\\old")), "new");
  EXPECT_EQ(readFile(box.path("elsewhere")), "old");
  struct stat st;
  ASSERT_EQ(stat(native(box.path("elsewhere")).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0444u);
  chmod(native(box.path("elsewhere")).c_str(), 0644);
}

TEST(PosixSeam, APrivateFileIsOpenToItsOwnerOnlyWhateverTheUmask) {
  Sandbox box;
  platform::HeldDirectory held;
  ASSERT_EQ(held.hold(box.path("").text()), platform::HeldDirectory::Outcome::Held);
  mode_t previous = umask(0);
  HANDLE file = held.createPrivate("p");
  umask(previous);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  struct stat st;
  ASSERT_EQ(stat(native(box.path("p")).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(PosixSeam, SymbolicLinksActLikeReparsePoints) {
  Sandbox box;
  writeFile(box.path("target.txt"), "target");
  makeDirectory(box.path("dir"));
  ASSERT_EQ(symlink("target.txt", native(box.path("flink")).c_str()), 0);
  ASSERT_EQ(symlink("dir", native(box.path("dlink")).c_str()), 0);
  ASSERT_EQ(symlink("missing.txt", native(box.path("dangling")).c_str()), 0);
  EXPECT_EQ(GetFileAttributesA(box.path("flink").text()), FILE_ATTRIBUTE_REPARSE_POINT);
  EXPECT_EQ(GetFileAttributesA(box.path("dlink").text()),
            FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(GetFileAttributesA(box.path("dangling").text()), FILE_ATTRIBUTE_REPARSE_POINT);
  // A create of a new file never goes through a link, dangling or not.
  vna::platform::HeldDirectory held;
  ASSERT_EQ(held.hold(box.root().text()), vna::platform::HeldDirectory::Outcome::Held);
  HANDLE h = held.createFile("dangling", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  EXPECT_FALSE(exists(box.path("missing.txt")));
  // Deleting a link deletes the link, not what it leads to.
  EXPECT_TRUE(held.deleteFile("flink"));
  EXPECT_EQ(readFile(box.path("target.txt")), "target");
  struct stat st;
  EXPECT_EQ(lstat(native(box.path("flink")).c_str(), &st), -1);
}

}  // namespace
}  // namespace vna::test
