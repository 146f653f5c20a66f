// The platform layer through real operations: the Windows error numbers
// failures leave, and the fault-injecting wrapper the other tests rely on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "platform/aside_name.h"
#include "platform/platform.h"
#include "support/fault_platform.h"

#ifndef _WIN32
#include <cerrno>
#include <cstring>
#include <unistd.h>
#include <utility>

#include "platform/errno_map.h"
#include "platform/error_text.h"
#endif

namespace quilbo {
namespace {

namespace fs = std::filesystem;
using testing::Service;

// A fresh folder per test, removed afterwards (read-only files included).
struct TempDir {
  fs::path path;
  TempDir() {
    static int counter = 0;
    path = fs::temp_directory_path() /
           ("quilbo-platform-" + std::to_string(++counter) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~TempDir() {
    std::error_code ignored;
    for (const auto& entry : fs::recursive_directory_iterator(path, ignored))
      fs::permissions(entry.path(), fs::perms::owner_all, ignored);
    fs::remove_all(path, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string operator/(const std::string& name) const {
    return (path / name).string();
  }
};

void MakeFile(const std::string& name, const std::string& content) {
  std::ofstream(name, std::ios::binary) << content;
}

const PlatformApi& Native() { return NativePlatform(); }

// ---- Error numbers of real failures, on both platforms --------------------

TEST(PlatformErrors, FailuresLeaveTheWindowsNumbers) {
  TempDir dir;
  MakeFile(dir / "a.txt", "a");
  MakeFile(dir / "b.txt", "b");
  struct Case {
    const char* what;
    bool (*attempt)(const TempDir& dir);
    std::int32_t error;
  };
  const Case cases[] = {
      {"open of a missing file",
       [](const TempDir& d) {
         return Native().createFile((d / "missing.txt").c_str(),
                                    FileAccess::kRead,
                                    FileCreation::kOpenExisting) !=
                kInvalidHandle;
       },
       kErrFileNotFound},
      {"open below a missing folder",
       [](const TempDir& d) {
         return Native().createFile((d / "nofolder/x.txt").c_str(),
                                    FileAccess::kRead,
                                    FileCreation::kOpenExisting) !=
                kInvalidHandle;
       },
       kErrPathNotFound},
      {"create below a missing folder",
       [](const TempDir& d) {
         return Native().createFile((d / "nofolder/x.txt").c_str(),
                                    FileAccess::kReadWrite,
                                    FileCreation::kCreateAlways) !=
                kInvalidHandle;
       },
       kErrPathNotFound},
      {"move onto an existing name",
       [](const TempDir& d) {
         return Native().moveFile((d / "a.txt").c_str(), (d / "b.txt").c_str());
       },
       kErrAlreadyExists},
      {"delete of a missing file",
       [](const TempDir& d) {
         return Native().deleteFile((d / "missing.txt").c_str());
       },
       kErrFileNotFound},
      {"lookup of a missing file",
       [](const TempDir& d) {
         FindData entry{};
         return Native().lookupFile((d / "missing.txt").c_str(), &entry);
       },
       kErrFileNotFound},
      {"lookup below a missing folder",
       [](const TempDir& d) {
         FindData entry{};
         return Native().lookupFile((d / "nofolder/x.txt").c_str(), &entry);
       },
       kErrPathNotFound},
      {"search in a missing folder",
       [](const TempDir& d) {
         FindData entry{};
         return Native().findFirstFile((d / "nofolder/*.log").c_str(),
                                       &entry) != kInvalidHandle;
       },
       kErrPathNotFound},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Native().setLastError(0);
    EXPECT_FALSE(c.attempt(dir));
    EXPECT_EQ(Native().lastError(), c.error);
  }
  // The refused move changed nothing.
  std::ifstream a(dir / "a.txt"), b(dir / "b.txt");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(a), {}), "a");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(b), {}), "b");
}

// A lookup takes the one entry of that name, never a pattern.
TEST(PlatformLookup, OneEntryByItsName) {
  TempDir dir;
  MakeFile(dir / "a1.txt", "abc");
  fs::create_directories(dir.path / "sub");
  FindData entry{};
  ASSERT_TRUE(Native().lookupFile((dir / "a1.txt").c_str(), &entry));
  EXPECT_EQ(entry.size, 3u);
  EXPECT_EQ(entry.attributes & kAttrDirectory, 0u);
  EXPECT_NE(entry.lastWriteTime, 0u);
  ASSERT_TRUE(Native().lookupFile((dir / "sub").c_str(), &entry));
  EXPECT_NE(entry.attributes & kAttrDirectory, 0u);
  for (const char* pattern : {"a?.txt", "a*", "*.*"}) {
    Native().setLastError(0);
    EXPECT_FALSE(Native().lookupFile((dir / pattern).c_str(), &entry)) << pattern;
    // Windows calls such a name invalid; elsewhere no file has it.
    EXPECT_TRUE(Native().lastError() == kErrInvalidName ||
                Native().lastError() == kErrFileNotFound)
        << pattern << ": " << Native().lastError();
  }
}

// The steps inside an open folder reach what the same names reach as paths.
TEST(PlatformFolders, StepsInsideAnOpenFolder) {
  TempDir dir;
  const auto& os = Native();
  fs::create_directories(dir.path / "sub");
  const OsHandle folder = os.openFolder((dir / "sub").c_str());
  ASSERT_NE(folder, kInvalidHandle);
  const OsHandle file =
      os.createFileAt(folder, "a.log", FileAccess::kReadWrite, FileCreation::kCreateNew);
  ASSERT_NE(file, kInvalidHandle);
  std::uint32_t done = 0;
  ASSERT_TRUE(os.writeFile(file, "abc", 3, &done));
  os.closeHandle(file);
  FindData entry{};
  ASSERT_TRUE(os.lookupFileAt(folder, "a.log", &entry));
  EXPECT_EQ(entry.size, 3u);
  FileIdentity inside{};
  FileIdentity byPath{};
  ASSERT_TRUE(os.fileIdentityAt(folder, "a.log", &inside));
  ASSERT_TRUE(os.fileIdentity((dir / "sub/a.log").c_str(), &byPath));
  EXPECT_EQ(inside.index, byPath.index);
  EXPECT_TRUE(os.flushFilesAt(folder, std::vector<const char*>{"a.log"}.data(), 1));
  EXPECT_EQ(os.createFileAt(folder, "a.log", FileAccess::kReadWrite, FileCreation::kCreateNew),
            kInvalidHandle);
  EXPECT_EQ(os.lastError(), kErrFileExists);
  // One entry's name only: a separator is no way out of the folder.
  EXPECT_FALSE(os.lookupFileAt(folder, "../sub/a.log", &entry));
  EXPECT_EQ(os.lastError(), kErrInvalidName);
  // A move inside the folder replaces only when asked to.
  os.closeHandle(os.createFileAt(folder, "b.tmp", FileAccess::kReadWrite, FileCreation::kCreateNew));
  EXPECT_FALSE(os.moveFileOverAt(folder, "b.tmp", "a.log", false));
  EXPECT_EQ(os.lastError(), kErrAlreadyExists);
  ASSERT_TRUE(os.moveFileOverAt(folder, "b.tmp", "a.log", true));
  EXPECT_FALSE(fs::exists(dir.path / "sub/b.tmp"));
  EXPECT_EQ(fs::file_size(dir.path / "sub/a.log"), 0u);
  EXPECT_TRUE(os.deleteFileAt(folder, "a.log"));
  EXPECT_FALSE(fs::exists(dir.path / "sub/a.log"));
  EXPECT_TRUE(os.closeFolder(folder));
  EXPECT_EQ(os.openFolder((dir / "none").c_str()), kInvalidHandle);
  EXPECT_EQ(os.lastError(), kErrPathNotFound);
}

TEST(PlatformFolders, AsideNamesRoundTripAndNothingElseIsOne) {
  std::string_view log;
  std::int64_t archived = 0;
  const std::string app = AsideName("app.log", 1234);
  ASSERT_TRUE(ParseAsideName(app, &log, &archived));
  EXPECT_EQ(log, "app.log");
  EXPECT_EQ(archived, 1234);
  const std::string odd = AsideName("-1-x", 0);
  ASSERT_TRUE(ParseAsideName(odd, &log, &archived));
  EXPECT_EQ(log, "-1-x");
  for (const char* name : {"app.log", ".quilbo-", ".quilbo-12", ".quilbo-12-", ".quilbo--1-a",
                           ".quilbo-x-a", ".quilbo-012-a", ".quilbo-1234567890123456789-a"})
    EXPECT_FALSE(IsAsideName(name)) << name;
}

#ifndef _WIN32

// ---- POSIX: Windows semantics on top of POSIX ------------------------------

TEST(PosixPlatform, ReadOnlyFileRefusesWritesAndDeletesEvenToRoot) {
  TempDir dir;
  const std::string name = dir / "ro.log";
  MakeFile(name, "keep");
  fs::permissions(name, fs::perms::owner_read | fs::perms::group_read |
                            fs::perms::others_read);
  for (FileCreation creation :
       {FileCreation::kOpenExisting, FileCreation::kCreateAlways}) {
    Native().setLastError(0);
    EXPECT_EQ(Native().createFile(name.c_str(), FileAccess::kReadWrite, creation),
              kInvalidHandle);
    EXPECT_EQ(Native().lastError(), kErrAccessDenied);
  }
  EXPECT_FALSE(Native().deleteFile(name.c_str()));
  EXPECT_EQ(Native().lastError(), kErrAccessDenied);
  EXPECT_EQ(fs::file_size(name), 4u);  // not truncated, still there

  // Reading it is allowed, and the search calls it read-only.
  const OsHandle file =
      Native().createFile(name.c_str(), FileAccess::kRead, FileCreation::kOpenExisting);
  ASSERT_NE(file, kInvalidHandle);
  EXPECT_TRUE(Native().closeHandle(file));
  FindData entry{};
  const OsHandle search = Native().findFirstFile(name.c_str(), &entry);
  ASSERT_NE(search, kInvalidHandle);
  EXPECT_EQ(entry.attributes, kAttrReadOnly | kAttrArchive);
  Native().findClose(search);
}

TEST(PosixPlatform, WriteToPipeWithoutReaderFailsWith109) {
  InitPlatform(0, nullptr);  // ignores SIGPIPE: otherwise this test dies
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  close(ends[0]);
  EXPECT_EQ(Native().fileType(ends[1]), FileKind::kCharacter);
  std::uint32_t done = 99;
  Native().setLastError(0);
  EXPECT_FALSE(Native().writeFile(ends[1], "x", 1, &done));
  EXPECT_EQ(done, 0u);
  EXPECT_EQ(Native().lastError(), kErrBrokenPipe);
  close(ends[1]);
}

TEST(PosixPlatform, ErrnoTable) {
  struct Row {
    int err;
    std::int32_t code;
  };
  const Row rows[] = {
      {ENOENT, 2},      {ENOTDIR, 3},  {EACCES, 5},       {EPERM, 5},
      {EROFS, 5},       {EISDIR, 5},   {EMFILE, 4},       {ENFILE, 4},
      {ENOSPC, 112},    {EDQUOT, 112}, {EEXIST, 183},     {EPIPE, 109},
      {ENAMETOOLONG, 206}, {EBUSY, 32}, {ETXTBSY, 32},    {EBADF, 6},
      {EINVAL, 87},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.err);
    EXPECT_EQ(WindowsErrorFromErrno(row.err, nullptr), row.code);
  }
}

TEST(PosixPlatform, ReasonIsTheErrnoBehindTheNumber) {
  // Both failures leave 3; only the errno tells "not a directory" from a
  // missing folder. A number no call left gets its usual errno's words.
  TempDir dir;
  MakeFile(dir / "file", "x");
  char reason[256];
  for (const auto& [name, err] : {std::pair{dir / "file/x.log", ENOTDIR},
                                  std::pair{dir / "gone/x.log", ENOENT}}) {
    EXPECT_EQ(Native().createFile(name.c_str(), FileAccess::kRead,
                                  FileCreation::kOpenExisting), kInvalidHandle);
    ASSERT_EQ(Native().lastError(), kErrPathNotFound);
    SystemErrorText(kErrPathNotFound, reason, sizeof reason);
    EXPECT_STREQ(reason, std::strerror(err));
  }
  SystemErrorText(kErrDiskFull, reason, sizeof reason);
  EXPECT_STREQ(reason, std::strerror(ENOSPC));
  SystemErrorText(1000, reason, sizeof reason);
  EXPECT_STREQ(reason, "error 1000");
}

TEST(PosixPlatform, MissingEntryIsPathNotFoundWhenItsFolderIsMissing) {
  TempDir dir;
  EXPECT_EQ(WindowsErrorFromErrno(ENOENT, (dir / "x.log").c_str()), 2);
  EXPECT_EQ(WindowsErrorFromErrno(ENOENT, (dir / "gone/x.log").c_str()), 3);
  EXPECT_EQ(WindowsErrorFromErrno(ENOENT, "x.log"), 2);
}

TEST(PosixPlatform, UnmappedErrnoNeverLooksLikeTheProgramsOwnCodes) {
  // Only the errno values of the table may become 2 to 5; none becomes
  // one of the program's own codes 100 to 106.
  const std::set<int> fileErrors = {ENOENT, ENOTDIR, EACCES, EPERM,
                                    EROFS,  EISDIR,  EMFILE, ENFILE};
  for (int err = 1; err < 4096; ++err) {
    const std::int32_t code = WindowsErrorFromErrno(err, nullptr);
    SCOPED_TRACE(err);
    if (!fileErrors.contains(err)) {
      EXPECT_FALSE(code >= 2 && code <= 5) << code;
    }
    EXPECT_FALSE(code >= 100 && code <= 106) << code;
    EXPECT_NE(code, 0);
  }
}

// Only '/' separates in a name the system gets: a found name such as
// x\y.log is one name, never x/y.log.
TEST(PosixPlatform, BackslashIsAByteOfTheName) {
  TempDir dir;
  fs::create_directories(dir.path / "x");
  MakeFile(dir / "x/y.log", "in folder x");
  MakeFile(dir / "x\\y.log", "one name");
  const std::string name = dir / "x\\y.log";
  const OsHandle file = Native().createFile(name.c_str(), FileAccess::kRead,
                                            FileCreation::kOpenExisting);
  ASSERT_NE(file, kInvalidHandle);
  char buffer[16] = {};
  std::uint32_t done = 0;
  EXPECT_TRUE(Native().readFile(file, buffer, sizeof buffer, &done));
  EXPECT_EQ(std::string(buffer, done), "one name");
  Native().closeHandle(file);
  FindData entry{};
  ASSERT_TRUE(Native().lookupFile(name.c_str(), &entry));
  EXPECT_EQ(entry.size, 8u);
  EXPECT_TRUE(Native().deleteFile(name.c_str()));
  EXPECT_TRUE(fs::exists(dir.path / "x" / "y.log"));
  EXPECT_FALSE(Native().lookupFile(name.c_str(), &entry));
}

#endif  // !_WIN32

// ---- The fault-injecting wrapper ------------------------------------------

// One call of fileIdentity on an existing file: succeeds unless injected.
bool Identify(const std::string& name) {
  FileIdentity identity{};
  return Os().fileIdentity(name.c_str(), &identity);
}

TEST(FaultPlatform, ChosenCallsFailWithTheChosenError) {
  TempDir dir;
  const std::string name = dir / "x.log";
  MakeFile(name, "x");
  struct Case {
    const char* what;
    testing::FaultPlan plan;
    const char* outcome;  // per call, 'y' success, 'n' failure
  };
  const Case cases[] = {
      {"only the 3rd", {0, Service::kFileIdentity, 3, true, 77}, "yynyy"},
      {"from the 3rd on", {0, Service::kFileIdentity, 3, false, 77}, "yynnn"},
      {"every call", {0, Service::kFileIdentity, 1, false, 112}, "nnnnn"},
      {"call number 2 overall", {2, Service::kCount, 1, false, 5}, "ynyyy"},
      {"other service only", {0, Service::kDeleteFile, 1, false, 5}, "yyyyy"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing::ScopedFaults faults(c.plan);
    std::string outcome;
    for (int call = 0; call < 5; ++call) {
      Os().setLastError(0);
      const bool ok = Identify(name);
      outcome += ok ? 'y' : 'n';
      if (!ok) {
        EXPECT_EQ(Os().lastError(), c.plan.error);
      }
    }
    EXPECT_EQ(outcome, c.outcome);
    EXPECT_EQ(testing::CallsOf(Service::kFileIdentity), 5u);
    EXPECT_EQ(testing::Counts().total, 5u);
    EXPECT_EQ(testing::Counts().injected,
              static_cast<std::uint64_t>(std::count(outcome.begin(), outcome.end(), 'n')));
  }
  EXPECT_EQ(&Os(), &NativePlatform());
}

TEST(FaultPlatform, CountsEveryFailableServiceTogether) {
  TempDir dir;
  const std::string name = dir / "x.log";
  MakeFile(name, "x");
  // The third failable call fails, whichever service it is.
  testing::ScopedFaults faults({3, Service::kCount, 1, false, 112});
  EXPECT_TRUE(Identify(name));
  const OsHandle file =
      Os().createFile(name.c_str(), FileAccess::kRead, FileCreation::kOpenExisting);
  ASSERT_NE(file, kInvalidHandle);
  char byte = 0;
  std::uint32_t done = 0;
  EXPECT_FALSE(Os().readFile(file, &byte, 1, &done));
  EXPECT_EQ(Os().lastError(), 112);
  EXPECT_TRUE(Os().readFile(file, &byte, 1, &done));
  EXPECT_EQ(byte, 'x');
  EXPECT_TRUE(Os().closeHandle(file));
  // Handles and error numbers are not failable and not counted.
  Os().stdHandle(StdStream::kOutput);
  Os().lastError();
  EXPECT_EQ(testing::Counts().total, 5u);
  EXPECT_EQ(testing::CallsOf(Service::kReadFile), 2u);
  EXPECT_EQ(testing::CallsOf(Service::kCreateFile), 1u);
  EXPECT_EQ(testing::Counts().injected, 1u);
}

TEST(FaultPlatform, EveryServiceHasItsOwnName) {
  std::set<std::string> names;
  for (int i = 0; i < static_cast<int>(Service::kCount); ++i)
    names.insert(testing::ServiceName(static_cast<Service>(i)));
  EXPECT_EQ(names.size(), static_cast<std::size_t>(Service::kCount));
  EXPECT_FALSE(names.contains("none"));
  EXPECT_STREQ(testing::ServiceName(Service::kCount), "none");
}

// ---- Folder locks and flushes, on both platforms ----------------------------

TEST(PlatformLocks, AFolderLocksAndUnlocksAgainAndAgain) {
  TempDir dir;
  fs::create_directories(dir.path / "keep");
  MakeFile(dir / "file.txt", "x");
  // Taken and released in turn: a release that kept the lock would make
  // the next take wait for ever.
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    const OsHandle lock = Native().lockFolder((dir / "keep").c_str(), kWaitForever);
    ASSERT_NE(lock, kInvalidHandle);
    EXPECT_TRUE(Native().flushFolder(lock));
    EXPECT_TRUE(Native().unlockFolder(lock));
  }
  // What cannot be opened as a folder is not locked.
  for (const std::string& name : {dir / "missing", dir / "file.txt", dir / "gone/keep"}) {
    SCOPED_TRACE(name);
    Native().setLastError(0);
    EXPECT_EQ(Native().lockFolder(name.c_str(), kWaitForever), kInvalidHandle);
    EXPECT_NE(Native().lastError(), 0);
  }
  EXPECT_TRUE(fs::is_empty(dir.path / "keep"));  // no lock file left behind
}

TEST(PlatformLocks, FlushKeepsTheBytesAndThePosition) {
  TempDir dir;
  const std::string name = dir / "a.log";
  const OsHandle file =
      Native().createFile(name.c_str(), FileAccess::kReadWrite, FileCreation::kCreateAlways);
  ASSERT_NE(file, kInvalidHandle);
  std::uint32_t done = 0;
  ASSERT_TRUE(Native().writeFile(file, "abc", 3, &done));
  EXPECT_TRUE(Native().flushFile(file));
  ASSERT_TRUE(Native().writeFile(file, "de", 2, &done));
  EXPECT_TRUE(Native().closeHandle(file));
  std::ifstream in(name, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "abcde");
}

TEST(PlatformLocks, FailedCallErrorIsNeverZero) {
  testing::ScopedFaults faults({0, Service::kFlushFile, 1, false, 0});
  Os().setLastError(0);
  EXPECT_FALSE(Os().flushFile(Os().stdHandle(StdStream::kOutput)));
  EXPECT_EQ(FailedCallError(), kErrGeneralFailure);
  Os().setLastError(112);
  EXPECT_EQ(FailedCallError(), 112);
}

}  // namespace
}  // namespace quilbo
