// The contract of the OS seam, run on every target: the same calls give the
// same results and the same GetLastError codes on Windows and over POSIX.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "platform/held_directory.h"
#include "platform/threads.h"
#include "platform_api.h"
#include "sandbox.h"

namespace vna::test {
namespace {

HANDLE openForReading(const FilePath& path) {
  return CreateFileA(path.text(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// A new file `name` in the held `directory`, for reading and writing.
HANDLE createIn(const platform::HeldDirectory& directory, const char* name) {
  return directory.createFile(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL);
}

// The names a held directory's listing shows for `pattern` (none when it
// cannot start).
std::set<std::string> heldListing(const platform::HeldDirectory& held, const char* pattern) {
  std::set<std::string> listed;
  WIN32_FIND_DATAW data;
  HANDLE find = held.findFirst(&data, pattern);
  if (find == INVALID_HANDLE_VALUE) return listed;
  do {
    std::string name;
    for (const WCHAR* c = data.cFileName; *c != 0; ++c) name += static_cast<char>(*c);
    listed.insert(name);
  } while (FindNextFileW(find, &data));
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
  FindClose(find);
  return listed;
}

// Everything in the directory at `directory`, "." and ".." included.
std::set<std::string> listing(const FilePath& directory) {
  platform::HeldDirectory held;
  if (held.hold(directory.text()) != platform::HeldDirectory::Outcome::Held) return {};
  return heldListing(held, "*.*");
}

// A held sandbox root, for the tests that make files.
struct HeldBox {
  Sandbox box;
  platform::HeldDirectory root;
  HeldBox() { EXPECT_EQ(root.hold(box.root().text()), platform::HeldDirectory::Outcome::Held); }
};

TEST(SeamContract, WrittenBytesReadBackAtExplicitPositions) {
  HeldBox held;
  HANDLE file = createIn(held.root, "f.bin");
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD count = 0;
  ASSERT_TRUE(WriteFile(file, "hello world", 11, &count, nullptr));
  EXPECT_EQ(count, 11u);
  EXPECT_EQ(SetFilePointer(file, 6, nullptr, FILE_BEGIN), 6u);
  ASSERT_TRUE(WriteFile(file, "WORLD", 5, &count, nullptr));
  EXPECT_EQ(GetFileSize(file, nullptr), 11u);
  char buffer[32] = {0};
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_BEGIN), 0u);
  ASSERT_TRUE(ReadFile(file, buffer, sizeof buffer, &count, nullptr));
  EXPECT_EQ(count, 11u);
  EXPECT_EQ(std::string(buffer, count), "hello WORLD");
  ASSERT_TRUE(ReadFile(file, buffer, sizeof buffer, &count, nullptr));
  EXPECT_EQ(count, 0u) << "reading at the end gives nothing and succeeds";
  EXPECT_TRUE(CloseHandle(file));
}

TEST(SeamContract, PositionsFromTwoToThe31AreRefusedWithNegativeSeek) {
  HeldBox held;
  HANDLE file = createIn(held.root, "f.bin");
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(SetFilePointer(file, static_cast<LONG>(0x80000000u), nullptr, FILE_BEGIN),
            INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
  CloseHandle(file);
}

struct FailingOpen {
  const char* name;
  const char* path;  // below the sandbox
  DWORD code;
};

class SeamOpenFailure : public ::testing::TestWithParam<FailingOpen> {};

TEST_P(SeamOpenFailure, ReportsTheWin32Code) {
  Sandbox box;
  writeFile(box.path("file"), "x");
  makeDirectory(box.path("dir"));
  HANDLE file = openForReading(box.path(GetParam().path));
  EXPECT_EQ(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, SeamOpenFailure,
    ::testing::Values(FailingOpen{"MissingFile", "missing.txt", ERROR_FILE_NOT_FOUND},
                      FailingOpen{"MissingParent", "nodir\\x.txt", ERROR_PATH_NOT_FOUND},
                      FailingOpen{"ComponentIsAFile", "file\\x.txt", ERROR_PATH_NOT_FOUND},
                      FailingOpen{"Directory", "dir", ERROR_ACCESS_DENIED}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SeamContract, DirectoryServicesReportTheirCodes) {
  Sandbox box;
  FilePath dir = box.path("d");
  EXPECT_TRUE(CreateDirectoryA(dir.text(), nullptr));
  EXPECT_FALSE(CreateDirectoryA(dir.text(), nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_FALSE(CreateDirectoryA(box.path("none\\d").text(), nullptr));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  writeFile(box.path("d\\f"), "x");
  platform::HeldDirectory root;
  ASSERT_EQ(root.hold(box.root().text()), platform::HeldDirectory::Outcome::Held);
  EXPECT_FALSE(root.removeDirectory("d"));
  EXPECT_EQ(GetLastError(), ERROR_DIR_NOT_EMPTY);
  EXPECT_FALSE(root.deleteFile("none.txt"));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  removeTree(box.path("d\\f"));
  EXPECT_TRUE(root.removeDirectory("d"));
  EXPECT_EQ(GetFileAttributesA(dir.text()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(SeamContract, AttributesCarryDirectoryAndReadOnlyBits) {
  Sandbox box;
  writeFile(box.path("f"), "x");
  EXPECT_NE(GetFileAttributesA(box.root().text()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
  DWORD plain = GetFileAttributesA(box.path("f").text());
  EXPECT_EQ(plain & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY), 0u);
  setReadOnly(box.path("f"), true);
  EXPECT_NE(GetFileAttributesA(box.path("f").text()) & FILE_ATTRIBUTE_READONLY, 0u);
  setReadOnly(box.path("f"), false);
  EXPECT_EQ(GetFileAttributesA(box.path("f").text()) & FILE_ATTRIBUTE_READONLY, 0u);
}

TEST(SeamContract, ListingShowsDotEntriesAndEveryName) {
  Sandbox box;
  EXPECT_EQ(listing(box.root()), (std::set<std::string>{".", ".."}));
  writeFile(box.path("a.txt"), "a");
  writeFile(box.path("noext"), "b");
  makeDirectory(box.path("sub"));
  EXPECT_EQ(listing(box.root()), (std::set<std::string>{".", "..", "a.txt", "noext", "sub"}));
}

TEST(SeamContract, WideListingAndCodePageConvertNamesExactlyOrSaySo) {
  Sandbox box;
  // "\xE9" is e acute in both seams' code pages (1252, and bytes as code points).
  writeFile(box.path("caf\xE9.txt"), "c");
  platform::HeldDirectory held;
  ASSERT_EQ(held.hold(box.root().text()), platform::HeldDirectory::Outcome::Held);
  std::set<std::string> names;
  WIN32_FIND_DATAW data;
  HANDLE find = held.findFirst(&data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  do {
    char name[MAX_PATH];
    BOOL usedDefault = TRUE;
    ASSERT_GT(WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, data.cFileName, -1, name,
                                  MAX_PATH, nullptr, &usedDefault), 0);
    EXPECT_FALSE(usedDefault);
    names.insert(name);
  } while (FindNextFileW(find, &data));
  FindClose(find);
  EXPECT_EQ(names, (std::set<std::string>{".", "..", "caf\xE9.txt"}));

  // A-with-macron is in neither code page: never mapped to a plain "A".
  const WCHAR macron[] = {0x0100, 'b', 0};
  char narrow[8] = {0};
  BOOL usedDefault = FALSE;
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, macron, -1, narrow, sizeof narrow, nullptr,
                      &usedDefault);
  EXPECT_TRUE(usedDefault);
  EXPECT_NE(narrow[0], 'A');
}

// Reads `name` of `directory` as the walk of a source opens its files.
std::string readThroughSeam(const platform::HeldDirectory& directory, const char* name) {
  HANDLE file = directory.createFile(name, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                                     FILE_FLAG_OPEN_REPARSE_POINT);
  if (file == INVALID_HANDLE_VALUE) return "<" + std::to_string(GetLastError()) + ">";
  std::string bytes(GetFileSize(file, nullptr), '\0');
  DWORD read = 0;
  if (!bytes.empty()) {
    EXPECT_TRUE(ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr));
  }
  EXPECT_EQ(read, bytes.size());
  CloseHandle(file);
  return bytes;
}

TEST(SeamContract, ListedFilesOpenAsTheyAreAtTheOpen) {
  // Whatever happens to a file between its listing and its open, the open
  // sees the file as it is then: gone, rewritten or untouched.
  Sandbox box;
  for (const char* name : {"keep1", "keep2", "gone", "rewritten", "readonly"}) {
    writeFile(box.path(name), std::string("old ") + name);
  }
  platform::HeldDirectory held;
  ASSERT_EQ(held.hold(box.root().text()), platform::HeldDirectory::Outcome::Held);
  WIN32_FIND_DATAW data;
  HANDLE find = held.findFirst(&data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  std::set<std::string> seen;
  do {
    std::string name;
    for (const WCHAR* c = data.cFileName; *c != 0; ++c) name += static_cast<char>(*c);
    if (name == "." || name == "..") continue;
    seen.insert(name);
    FilePath path = box.path(name.c_str());
    if (name == "gone") {
      ASSERT_TRUE(held.deleteFile(name.c_str()));
      EXPECT_EQ(readThroughSeam(held, name.c_str()), "<2>");
    } else if (name == "rewritten") {
      // Rewritten in place by another program, to the length it had.
      writeFile(path, "new rewritten");
      EXPECT_EQ(readThroughSeam(held, name.c_str()), "new rewritten");
    } else if (name == "readonly") {
      setReadOnly(path, true);
      EXPECT_EQ(readThroughSeam(held, name.c_str()), "old readonly");
      setReadOnly(path, false);
    } else {
      EXPECT_EQ(readThroughSeam(held, name.c_str()), "old " + name);
      EXPECT_EQ(readThroughSeam(held, name.c_str()), "old " + name) << "a second open";
    }
  } while (FindNextFileW(find, &data));
  FindClose(find);
  EXPECT_EQ(seen.size(), 5u);
}

TEST(SeamContract, CurrentDirectoryReportsNeededSizeWhenTooSmall) {
  char buffer[MAX_PATH];
  DWORD length = GetCurrentDirectoryA(sizeof buffer, buffer);
  ASSERT_GT(length, 0u);
  char tiny[2] = {'x', 'x'};
  EXPECT_EQ(GetCurrentDirectoryA(sizeof tiny, tiny), length + 1);
}

TEST(SeamContract, FullPathResolvesDotsLexically) {
  Sandbox box;
  char buffer[4096];
  FilePath dotted = box.path("a\\b\\..\\.\\c");
  DWORD length = GetFullPathNameA(dotted.text(), sizeof buffer, buffer, nullptr);
  ASSERT_GT(length, 0u);
  std::string full(buffer, length);
  std::string tail = full.substr(full.size() - 4);
  EXPECT_TRUE(tail == "\\a\\c" || tail == "/a/c") << full;
}

TEST(SeamContract, OpeningAFileHeldForWritingIsASharingViolation) {
  if (!platform::kWindowsPaths) GTEST_SKIP() << "share modes are not enforced on POSIX";
  HeldBox held;
  HANDLE writer = createIn(held.root, "held.txt");
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  EXPECT_EQ(openForReading(held.box.path("held.txt")), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  CloseHandle(writer);
}

TEST(SeamContract, FileIdentityIsTheSameThroughEitherSpelling) {
  Sandbox box;
  writeFile(box.path("same.txt"), "x");
  writeFile(box.path("other.txt"), "y");
  auto identity = [](const FilePath& p) {
    HANDLE h = CreateFileA(p.text(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(GetFileInformationByHandle(h, &info));
    CloseHandle(h);
    return std::to_string(info.dwVolumeSerialNumber) + ":" + std::to_string(info.nFileIndexHigh) +
           ":" + std::to_string(info.nFileIndexLow);
  };
  EXPECT_EQ(identity(box.path("same.txt")), identity(FilePath((std::string(box.root().text()) + "\\.\\same.txt").c_str())));
  EXPECT_NE(identity(box.path("same.txt")), identity(box.path("other.txt")));
}

TEST(HeldDirectoryContract, CreateNewRefusesWhateverStandsAtTheName) {
  HeldBox held;
  Sandbox& box = held.box;
  writeFile(box.path("old.txt"), "old");
  makeDirectory(box.path("dir"));
  for (const char* name : {"old.txt", "dir"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(createIn(held.root, name), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  }
  EXPECT_EQ(readFile(box.path("old.txt")), "old");
  HANDLE fresh = createIn(held.root, "new.txt");
  ASSERT_NE(fresh, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(fresh, "new", 3, &written, nullptr));
  EXPECT_TRUE(CloseHandle(fresh));
  EXPECT_EQ(readFile(box.path("new.txt")), "new");
}

// Threads hand a token round in turn through one lock and one condition: a
// lost wake-up hangs, a lock that does not exclude loses counts, a join that
// returns early reads a count not yet final.
struct TokenRing {
  platform::Lock lock;
  platform::Condition turn;
  unsigned threads = 0;
  unsigned next = 0;
  unsigned rounds = 0;
  unsigned long passes = 0;
  DWORD lastErrorSeen[4] = {};
};

struct RingMember {
  TokenRing* ring;
  unsigned index;
};

void passToken(void* parameter) {
  RingMember* member = static_cast<RingMember*>(parameter);
  TokenRing& ring = *member->ring;
  SetLastError(1000 + member->index);
  for (unsigned round = 0; round < ring.rounds; ++round) {
    platform::Locked held(ring.lock);
    while (ring.next != member->index) ring.turn.wait(ring.lock);
    ++ring.passes;
    ring.next = (ring.next + 1) % ring.threads;
    ring.turn.wakeAll();
  }
  ring.lastErrorSeen[member->index] = GetLastError();
}

// A held directory is the road to what is in it. Windows refuses to rename
// it; the POSIX seam lets the rename happen and goes on acting in the
// directory that was held. Either way nothing reaches what another process
// put at its name.
TEST(HeldDirectoryContract, OperationsActInTheDirectoryThatWasHeld) {
  Sandbox box;
  makeDirectory(box.path("d"));
  platform::HeldDirectory held;
  ASSERT_EQ(held.hold(box.path("d").text()), platform::HeldDirectory::Outcome::Held);
  const bool moved = renamePath(box.path("d"), box.path("moved"));
  if (moved) {
    ASSERT_TRUE(CreateDirectoryA(box.path("d").text(), nullptr));
  }
  HANDLE file = held.createFile("f.txt", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  EXPECT_EQ(held.createFile("f.txt", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  EXPECT_TRUE(held.createDirectory("sub"));
  EXPECT_EQ(held.getAttributes("sub") & FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_DIRECTORY);
  platform::HeldDirectory sub;
  EXPECT_EQ(sub.holdIn(held, "sub"), platform::HeldDirectory::Outcome::Held);
  EXPECT_EQ(sub.holdIn(held, "f.txt"), platform::HeldDirectory::Outcome::Absent);
  const char* real = moved ? "moved" : "d";
  EXPECT_EQ(listing(box.path(real)), (std::set<std::string>{".", "..", "f.txt", "sub"}));
  std::set<std::string> listed = heldListing(held, "*.*");
  EXPECT_EQ(listed, (std::set<std::string>{".", "..", "f.txt", "sub"}));
  EXPECT_FALSE(held.removeDirectory("f.txt"));
  EXPECT_FALSE(held.deleteFile("sub"));
  EXPECT_TRUE(held.deleteFile("f.txt"));
  sub.release();
  EXPECT_TRUE(held.removeDirectory("sub"));
  EXPECT_EQ(listing(box.path(real)), (std::set<std::string>{".", ".."}));
  held.release();
  if (moved) {
    EXPECT_EQ(listing(box.path("d")), (std::set<std::string>{".", ".."}));
  }
}

TEST(HeldDirectoryContract, ALockedFileRefusesAnotherOpensLockUntilClosed) {
  Sandbox box;
  platform::HeldDirectory held;
  ASSERT_EQ(held.hold(box.path("").text()), platform::HeldDirectory::Outcome::Held);
  HANDLE owner = held.createPrivate("j.jnl");
  ASSERT_NE(owner, INVALID_HANDLE_VALUE);
  EXPECT_EQ(held.createPrivate("j.jnl"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  OVERLAPPED whole = {};
  const DWORD exclusive = LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY;
  ASSERT_TRUE(LockFileEx(owner, exclusive, 0, 0xFFFFFFFFu, 0xFFFFFFFFu, &whole));
  HANDLE other = held.createFile("j.jnl", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(LockFileEx(other, exclusive, 0, 0xFFFFFFFFu, 0xFFFFFFFFu, &whole));
  EXPECT_EQ(GetLastError(), ERROR_LOCK_VIOLATION);
  CloseHandle(owner);
  EXPECT_TRUE(LockFileEx(other, exclusive, 0, 0xFFFFFFFFu, 0xFFFFFFFFu, &whole));
  CloseHandle(other);
}

TEST(HeldDirectoryContract, AListingWithAPatternShowsOnlyTheNamesThatMatch) {
  Sandbox box;
  for (const char* name : {"~vna1-2.jnl", "~vna33-0.jnl", "~vna1-2.tmp", "vna1-2.jnl", "a.txt"}) {
    writeFile(box.path(name), "x");
  }
  platform::HeldDirectory held;
  ASSERT_EQ(held.hold(box.path("").text()), platform::HeldDirectory::Outcome::Held);
  std::set<std::string> listed = heldListing(held, "~vna*.jnl");
  EXPECT_EQ(listed, (std::set<std::string>{"~vna1-2.jnl", "~vna33-0.jnl"}));
}

TEST(HeldDirectoryContract, NamesThatWouldLeaveTheDirectoryAreRefused) {
  Sandbox box;
  makeDirectory(box.path("d"));
  makeDirectory(box.path("d\\inner"));
  writeFile(box.path("outside.txt"), "outside");
  platform::HeldDirectory held;
  ASSERT_EQ(held.hold(box.path("d").text()), platform::HeldDirectory::Outcome::Held);
  for (const char* name : {"", ".", "..", "..\\outside.txt", "../outside.txt", "inner\\x",
                           "inner/x"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(held.createFile(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
    EXPECT_EQ(held.createFile(name, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(held.getAttributes(name), INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(held.createDirectory(name));
    EXPECT_FALSE(held.deleteFile(name));
    EXPECT_FALSE(held.removeDirectory(name));
    EXPECT_FALSE(held.replaceFile(name, "inner"));
    platform::HeldDirectory other;
    EXPECT_EQ(other.holdIn(held, name), platform::HeldDirectory::Outcome::Absent);
  }
  EXPECT_EQ(readFile(box.path("outside.txt")), "outside");
  EXPECT_EQ(listing(box.path("d")), (std::set<std::string>{".", "..", "inner"}));
  EXPECT_EQ(listing(box.path("d\\inner")), (std::set<std::string>{".", ".."}));
}

TEST(HeldDirectoryContract, LinksAreNeverHeldNorWrittenThrough) {
  Sandbox box;
  makeDirectory(box.path("d"));
  makeDirectory(box.path("outside"));
  writeFile(box.path("outside.txt"), "outside");
  if (!makeLink(box.path("outside"), box.path("d\\dlink"), true)) {
    GTEST_SKIP() << "no links can be made here";
  }
  platform::HeldDirectory held;
  ASSERT_EQ(held.hold(box.path("d").text()), platform::HeldDirectory::Outcome::Held);
  platform::HeldDirectory through;
  EXPECT_EQ(through.holdIn(held, "dlink"), platform::HeldDirectory::Outcome::Link);
  EXPECT_NE(held.getAttributes("dlink") & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
  EXPECT_FALSE(held.createDirectory("dlink"));
  if (makeLink(box.path("outside.txt"), box.path("d\\flink"), false) &&
      (held.getAttributes("flink") & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    EXPECT_EQ(held.createFile("flink", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL),
              INVALID_HANDLE_VALUE);
    HANDLE link = held.createFile("flink", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT);
    ASSERT_NE(link, INVALID_HANDLE_VALUE);
    BY_HANDLE_FILE_INFORMATION info;
    ASSERT_TRUE(GetFileInformationByHandle(link, &info));
    EXPECT_NE(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT, 0u) << "opened as the link";
    CloseHandle(link);
    HANDLE file = held.createFile("new", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    EXPECT_TRUE(held.replaceFile("new", "flink")) << "the link is replaced, not written through";
    EXPECT_EQ(held.getAttributes("flink") & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
  }
  EXPECT_EQ(readFile(box.path("outside.txt")), "outside");
  EXPECT_EQ(listing(box.path("outside")), (std::set<std::string>{".", ".."}));
}

TEST(HeldDirectoryContract, DescribingANameAnswersWhatItsOwnHandleWould) {
  HeldBox held;
  writeFile(held.box.path("f.txt"), "12345");
  makeDirectory(held.box.path("dir"));
  const bool links = makeLink(held.box.path("f.txt"), held.box.path("link"), false);
  HANDLE file = held.root.createFile("f.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  BY_HANDLE_FILE_INFORMATION opened;
  platform::FileOrigin openedOrigin;
  ASSERT_TRUE(GetFileInformationByHandle(file, &opened));
  ASSERT_TRUE(platform::queryOrigin(file, &openedOrigin));
  CloseHandle(file);
  BY_HANDLE_FILE_INFORMATION info;
  platform::FileOrigin origin;
  ASSERT_TRUE(held.root.describe("f.txt", &info, &origin));
  EXPECT_EQ(info.dwVolumeSerialNumber, opened.dwVolumeSerialNumber);
  EXPECT_EQ(info.nFileIndexHigh, opened.nFileIndexHigh);
  EXPECT_EQ(info.nFileIndexLow, opened.nFileIndexLow);
  EXPECT_EQ(info.nFileSizeLow, 5u);
  EXPECT_EQ(info.nNumberOfLinks, 1u);
  EXPECT_EQ(origin.birth, openedOrigin.birth);
  EXPECT_NE(origin.birth, 0u);
  EXPECT_TRUE(origin.ownedByUser);
  ASSERT_TRUE(held.root.describe("dir", &info, &origin));
  EXPECT_NE(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  if (links) {
    ASSERT_TRUE(held.root.describe("link", &info, &origin));
    EXPECT_NE(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT, 0u) << "the link itself";
  }
  EXPECT_FALSE(held.root.describe("missing", &info, &origin));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(held.root.describe("..", &info, &origin));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
}

TEST(HeldDirectoryContract, ReplacesReadOnlyFilesNotDirectoriesAndFlushes) {
  HeldBox held;
  writeFile(held.box.path("ro.txt"), "old");
  setReadOnly(held.box.path("ro.txt"), true);
  makeDirectory(held.box.path("dir"));
  HANDLE file = createIn(held.root, "new.txt");
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file, "new", 3, &written, nullptr));
  EXPECT_EQ(GetFileType(file), static_cast<DWORD>(FILE_TYPE_DISK));
  EXPECT_TRUE(FlushFileBuffers(file));
  EXPECT_TRUE(platform::prepareFlush(file));
  CloseHandle(file);
  EXPECT_FALSE(held.root.replaceFile("new.txt", "dir"));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(held.root.replaceFile("new.txt", "ro.txt"));
  EXPECT_EQ(readFile(held.box.path("ro.txt")), "new");
  EXPECT_FALSE(exists(held.box.path("new.txt")));
  EXPECT_TRUE(held.root.flushWritten());
  platform::HeldDirectory none;
  EXPECT_FALSE(none.flushWritten());
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(SeamContract, ThreadsTakeTurnsUnderOneLockAndAreJoined) {
  TokenRing ring;
  ring.threads = 4;
  ring.rounds = 2000;
  RingMember members[4];
  platform::Thread threads[4];
  SetLastError(7);
  for (unsigned i = 0; i < 4; ++i) {
    members[i] = RingMember{&ring, i};
    ASSERT_TRUE(threads[i].start(passToken, &members[i]));
  }
  for (platform::Thread& thread : threads) {
    thread.join();
    EXPECT_FALSE(thread.running());
  }
  EXPECT_EQ(ring.passes, 4u * 2000u);
  for (unsigned i = 0; i < 4; ++i) {
    EXPECT_EQ(ring.lastErrorSeen[i], 1000 + i) << "the last error is each thread's own";
  }
  EXPECT_EQ(GetLastError(), 7u);
}

}  // namespace
}  // namespace vna::test
