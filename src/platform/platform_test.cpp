// The platform layer through real operations, on both platforms: the
// Windows numbers failures leave, the time conversions, folder steps and
// locks, and the fault-injecting wrapper the other tests rely on.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>

#include "platform/platform.h"
#include "support/fault_platform.h"
#include "support/fs_fixtures.h"

namespace quilbo {
namespace {

namespace fs = std::filesystem;
using testing::Service;
using testing::TempDir;

const PlatformApi& Native() { return NativePlatform(); }

bool Open(const std::string& name, FileCreation creation = FileCreation::kOpenExisting) {
  const OsHandle file = Native().createFile(
      name.c_str(), creation == FileCreation::kOpenExisting ? FileAccess::kRead : FileAccess::kReadWrite,
      creation);
  return file != kInvalidHandle && Native().closeHandle(file);
}

TEST(Platform, FailuresLeaveTheWindowsNumbers) {
  TempDir dir;
  testing::WriteFile(dir.At("a.txt"), "a");
  testing::WriteFile(dir.At("b.txt"), "b");
  const std::string gone = dir.At("nofolder") + testing::kSep + "x.txt";
  FindData entry{};
  const std::pair<std::function<bool()>, std::int32_t> cases[] = {
      {[&] { return Open(dir.At("missing.txt")); }, kErrFileNotFound},
      {[&] { return Open(gone); }, kErrPathNotFound},
      {[&] { return Open(gone, FileCreation::kCreateAlways); }, kErrPathNotFound},
      {[&] { return Native().moveFile(dir.At("a.txt").c_str(), dir.At("b.txt").c_str()); },
       kErrAlreadyExists},
      {[&] { return Native().deleteFile(dir.At("missing.txt").c_str()); }, kErrFileNotFound},
      {[&] { return Native().lookupFile(dir.At("missing.txt").c_str(), &entry); }, kErrFileNotFound},
      {[&] { return Native().lookupFile(gone.c_str(), &entry); }, kErrPathNotFound},
      {[&] { return Native().findFirstFile((gone + "*").c_str(), &entry) != kInvalidHandle; },
       kErrPathNotFound},
      {[&] { return Native().openFolder(gone.c_str()) != kInvalidHandle; }, kErrPathNotFound},
  };
  for (const auto& [attempt, error] : cases) {
    Native().setLastError(0);
    EXPECT_FALSE(attempt());
    EXPECT_EQ(Native().lastError(), error);
  }
  EXPECT_EQ(testing::ReadWholeFile(dir.At("b.txt")), "b");  // the refused move changed nothing
}

// The steps inside an open folder reach what the same names reach as paths.
TEST(Platform, StepsInsideAnOpenFolder) {
  TempDir dir;
  const auto& os = Native();
  const OsHandle folder = os.openFolder(dir.path.c_str());
  ASSERT_NE(folder, kInvalidHandle);
  const OsHandle file = os.createFileAt(folder, "a.log", FileAccess::kReadWrite, FileCreation::kCreateNew);
  std::uint32_t done = 0;
  ASSERT_TRUE(os.writeFile(file, "abc", 3, &done));
  os.closeHandle(file);
  FindData entry{};
  ASSERT_TRUE(os.lookupFileAt(folder, "a.log", &entry));
  EXPECT_EQ(entry.size, 3u);
  FileIdentity inside{};
  FileIdentity byPath{};
  ASSERT_TRUE(os.fileIdentityAt(folder, "a.log", &inside) &&
              os.fileIdentity(dir.At("a.log").c_str(), &byPath));
  EXPECT_EQ(inside.index, byPath.index);
  const char* names[] = {"a.log"};
  EXPECT_TRUE(os.flushFilesAt(folder, names, 1));
  EXPECT_EQ(os.createFileAt(folder, "a.log", FileAccess::kReadWrite, FileCreation::kCreateNew), kInvalidHandle);
  EXPECT_EQ(os.lastError(), kErrFileExists);
  EXPECT_FALSE(os.lookupFileAt(folder, "../x/a.log", &entry));  // one entry's name only
  EXPECT_EQ(os.lastError(), kErrInvalidName);
  os.closeHandle(os.createFileAt(folder, "b.tmp", FileAccess::kReadWrite, FileCreation::kCreateNew));
  EXPECT_FALSE(os.moveFileOverAt(folder, "b.tmp", "a.log", false));  // replaces only when asked
  EXPECT_EQ(os.lastError(), kErrAlreadyExists);
  ASSERT_TRUE(os.moveFileOverAt(folder, "b.tmp", "a.log", true));
  EXPECT_FALSE(fs::exists(dir.At("b.tmp")));
  EXPECT_EQ(fs::file_size(dir.At("a.log")), 0u);
  EXPECT_TRUE(os.deleteFileAt(folder, "a.log") && os.closeFolder(folder));
  EXPECT_FALSE(fs::exists(dir.At("a.log")));
}

// 100 ns units since 1601 of a UTC date and time.
std::uint64_t Ticks(std::int64_t days1970, std::int64_t seconds) {
  return static_cast<std::uint64_t>(11644473600LL + days1970 * 86400 + seconds) * 10000000ULL;
}

TEST(Platform, FileTimesPackWithinTheirRangeOnly) {
  struct Row {
    std::uint64_t time;
    bool ok;
    std::uint16_t date, clock;
  };
  const Row rows[] = {
      {Ticks(19787, 14 * 3600 + 30 * 60 + 17), true, 0x5865, 0x73C8},  // 2024-03-05 14:30:17
      {Ticks(3652, 0), true, 0x0021, 0},                                 // 1980-01-01
      {Ticks(50402, 86399), true, 0xFF9F, 0xBF7D},                       // 2107-12-31 23:59:59
      {Ticks(3652, -1), false, 0, 0}, {Ticks(50403, 0), false, 0, 0}, {0, false, 0, 0},
  };
  for (const Row& row : rows) {
    std::uint16_t date = 0;
    std::uint16_t clock = 0;
    EXPECT_EQ(Native().fileTimeToDosDateTime(row.time, &date, &clock), row.ok) << row.time;
    if (row.ok) { EXPECT_EQ((date << 16) | clock, (row.date << 16) | row.clock) << row.time; }
  }
}

TEST(Platform, FolderLocksExcludeAndRelease) {
  TempDir dir;
  testing::WriteFile(dir.At("file.txt"), "x");
  for (int round = 0; round < 2; ++round) {  // a release that kept the lock would block round 2
    const OsHandle lock = Native().lockFolder(dir.path.c_str(), kWaitForever);
    ASSERT_NE(lock, kInvalidHandle);
    EXPECT_TRUE(Native().flushFolder(lock));
    EXPECT_EQ(Native().lockFolder(dir.path.c_str(), 20), kInvalidHandle);
    EXPECT_EQ(Native().lastError(), kErrTimeout);
    EXPECT_TRUE(Native().unlockFolder(lock));
  }
  EXPECT_EQ(Native().lockFolder(dir.At("file.txt").c_str(), kWaitForever), kInvalidHandle);
  EXPECT_EQ(fs::directory_iterator(dir.path)->path().filename(), "file.txt");  // no lock file
}

TEST(FaultPlatform, ChosenCallsFailWithTheChosenError) {
  TempDir dir;
  testing::WriteFile(dir.At("x.log"), "x");
  const std::pair<testing::FaultPlan, const char*> cases[] = {
      {{0, Service::kFileIdentity, 3, true, 77}, "yynyy"},
      {{0, Service::kFileIdentity, 3, false, 77}, "yynnn"},
      {{2, Service::kCount, 1, false, 112}, "ynyyy"},
      {{0, Service::kDeleteFile, 1, false, 5}, "yyyyy"},
  };
  for (const auto& [plan, expected] : cases) {
    testing::ScopedFaults faults(plan);
    std::string outcome;
    for (int call = 0; call < 5; ++call) {
      FileIdentity identity{};
      outcome += Os().fileIdentity(dir.At("x.log").c_str(), &identity) ? 'y' : 'n';
      if (outcome.back() == 'n') { EXPECT_EQ(Os().lastError(), plan.error); }
      Os().lastError();  // not failable, not counted
    }
    EXPECT_EQ(outcome, expected);
    EXPECT_EQ(testing::CallsOf(Service::kFileIdentity), testing::Counts().total);
    EXPECT_EQ(testing::Counts().injected, static_cast<std::uint64_t>(std::ranges::count(outcome, 'n')));
  }
  EXPECT_EQ(&Os(), &NativePlatform());
  EXPECT_STREQ(testing::ServiceName(Service::kAllocate), "allocate");
}

}  // namespace
}  // namespace quilbo
