#include "fs/search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "support/fs_fixtures.h"
#include "support/fault_platform.h"

namespace quilbo {
namespace {

using testing::CallsOf;
using testing::Entry;
using testing::kSep;
using testing::ScriptedSearch;
using testing::Service;
using testing::TempDir;

std::vector<std::string> Walk(const std::string& pattern, std::uint32_t mask,
                              SearchEntry& entry) {
  std::vector<std::string> names;
  SearchFirst(ToCounted(pattern), mask, entry);
  while (SearchError == 0) {
    names.emplace_back(View(entry.Name));
    SearchNext(entry);
  }
  return names;
}

TEST(Search, ReportsMatchingFilesButNotAMatchingSubfolder) {
  TempDir dir;
  testing::WriteFile(dir.At("a.log"), "12345");
  testing::WriteFile(dir.At("b.log"), "");
  testing::WriteFile(dir.At("c.txt"), "");
  std::filesystem::create_directory(dir.At("old.log"));

  testing::ScopedFaults count(testing::FaultPlan{});
  SearchEntry entry{};
  std::vector<std::string> names = Walk(dir.At("*.log"), 0x27, entry);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a.log", "b.log"}));
  EXPECT_EQ(SearchError, kErrNoMoreFiles);
  EXPECT_EQ(CallsOf(Service::kFindClose), 0u) << "the end of the folder closes nothing";
  SearchClose(entry);
  EXPECT_EQ(SearchError, 0);
  EXPECT_EQ(CallsOf(Service::kFindClose), 1u);
  EXPECT_EQ(entry.Handle, kInvalidHandle);
}

// The attribute filter, fed with entries the real file system cannot make.
TEST(Search, AttributeFilter) {
  struct Case {
    std::uint32_t attributes;
    std::uint32_t mask;
    bool accepted;
  };
  const Case cases[] = {
      {0x80, 0x27, true},    // normal only
      {0x800, 0x27, true},   // compressed
      {0x01, 0x27, true},    {0x02, 0x27, true},  {0x04, 0x27, true},
      {0x20, 0x27, true},    {0x27, 0x27, true},
      {0x10, 0x27, false},   // directory
      {0x08, 0x27, false},   // volume label
      {0x30, 0x3F, true},    {0x08, 0x3F, true},
      {0x20, 0x07, false},   // archive excluded when the mask lacks it
      {0x01, 0x00, true},    // read-only never excludes
      {0x20, 0x1000, false}, // directory required
      {0x10, 0x1000, true},  // required bits need not be in the low byte
      {0x12, 0x0210, true},  {0x10, 0x0210, false},
  };
  for (const Case& c : cases) {
    ScriptedSearch script({Entry("x", c.attributes)});
    SearchEntry entry{};
    EXPECT_EQ(StartSearch("x", c.mask, entry), c.accepted ? 0 : kErrNoMoreFiles)
        << std::hex << "attributes 0x" << c.attributes << " mask 0x" << c.mask;
    EXPECT_EQ(entry.Handle != kInvalidHandle, c.accepted);
    StopSearch(entry);
  }
}

TEST(Search, RejectedEntriesAreSkippedWithinOneStep) {
  ScriptedSearch script({Entry(".", 0x10), Entry("..", 0x10),
                         Entry("a.log", 0x20, 7), Entry("sub", 0x10),
                         Entry("b.log", 0x21, 9)});
  SearchEntry entry{};
  ASSERT_EQ(StartSearch("*", 0x27, entry), 0);
  EXPECT_EQ(View(entry.Name), "a.log");
  ASSERT_EQ(ContinueSearch(entry), 0);
  EXPECT_EQ(View(entry.Name), "b.log");
  EXPECT_EQ(entry.Attributes, 0x21);
  EXPECT_EQ(ContinueSearch(entry), kErrNoMoreFiles);
  EXPECT_EQ(View(entry.Name), "b.log");
  EXPECT_EQ(entry.Size, 9);
  EXPECT_EQ(StopSearch(entry), 0);
}

TEST(Search, FirstStepFailures) {
  TempDir dir;
  testing::WriteFile(dir.At("a.log"), "");
  std::filesystem::create_directory(dir.At("logs"));
  struct Case {
    std::string pattern;
    std::int32_t code;
  };
  const Case cases[] = {
      {dir.At("logs"), kErrNoMoreFiles},  // the folder's own entry, rejected
      {dir.At("missing") + kSep + "*.log", kErrPathNotFound},
      {dir.At("*.txt"), kErrFileNotFound},
      {dir.At("b.log"), kErrFileNotFound},
  };
  for (const Case& c : cases) {
    testing::ScopedFaults count(testing::FaultPlan{});
    SearchEntry entry{};
    SearchFirst(ToCounted(c.pattern), 0x27, entry);
    EXPECT_EQ(SearchError, c.code) << c.pattern;
    EXPECT_EQ(entry.Handle, kInvalidHandle) << c.pattern;
    const std::uint64_t closes = CallsOf(Service::kFindClose);
    SearchClose(entry);
    EXPECT_EQ(SearchError, 0);
    EXPECT_EQ(CallsOf(Service::kFindClose), closes) << "nothing left to close";
  }
}

TEST(Search, FailedCloseReportsAndStillCloses) {
  TempDir dir;
  testing::WriteFile(dir.At("a.log"), "");
  SearchEntry entry{};
  ASSERT_EQ(StartSearch(dir.At("*.log").c_str(), 0x27, entry), 0);
  const OsHandle handle = entry.Handle;
  {
    testing::FaultPlan plan;
    plan.failService = Service::kFindClose;
    plan.error = 6;
    testing::ScopedFaults fail(plan);
    SearchClose(entry);
  }
  EXPECT_EQ(SearchError, 6);
  EXPECT_EQ(entry.Handle, kInvalidHandle);
  NativePlatform().findClose(handle);  // the injected failure closed nothing
}

TEST(Search, DotEntriesFollowTheFilter) {
  TempDir dir;
  testing::WriteFile(dir.At("f"), "");
  SearchEntry entry{};
  std::vector<std::string> files = Walk(dir.At("*"), 0x27, entry);
  SearchClose(entry);
  EXPECT_EQ(files, std::vector<std::string>{"f"});
  std::vector<std::string> all = Walk(dir.At("*"), 0x3F, entry);
  SearchClose(entry);
  std::sort(all.begin(), all.end());
  EXPECT_EQ(all, (std::vector<std::string>{".", "..", "f"}));
}

TEST(Search, NameIsCutAfter255BytesButTheOwnNameIsWhole) {
  const std::string longName(259, 'n');
  ScriptedSearch script({Entry(longName, 0x20)});
  SearchEntry entry{};
  ASSERT_EQ(StartSearch("n*", 0x27, entry), 0);
  EXPECT_EQ(View(entry.Name), longName.substr(0, 255));
  EXPECT_EQ(std::string(entry.OwnName), longName);
  StopSearch(entry);
}

// An OEM code page as Windows' 437 maps these ANSI 1252 bytes: two names
// that differ (0x8A, 'S') show alike, 0x80 has no OEM form.
void FakeNameToOem(const char* source, char* destination, std::size_t /*size*/) {
  std::string text(source);
  for (char& c : text) {
    if (c == '\xFC') c = '\x81';
    if (c == '\x8A') c = 'S';
    if (c == '\x80') c = '?';
  }
  std::memcpy(destination, text.c_str(), text.size() + 1);
}

// The console form is converted; the platform's own name, which the file
// operations use, is kept byte for byte, also for the entry that follows a
// rejected one.
TEST(Search, OwnNameKeepsThePlatformsBytes) {
  ScriptedSearch script({Entry("m\xFCller.log", 0x20), Entry("dir", 0x10),
                         Entry("a\x8A.log", 0x20), Entry("a\x80.log", 0x20)});
  testing::FaultTable().nameToOem = FakeNameToOem;
  struct Row {
    std::string own;
    std::string shown;
  };
  const Row rows[] = {{"m\xFCller.log", "m\x81ller.log"},
                      {"a\x8A.log", "aS.log"},
                      {"a\x80.log", "a?.log"}};
  SearchEntry entry{};
  SearchFirst(ToCounted("*"), 0x27, entry);
  for (const Row& row : rows) {
    ASSERT_EQ(SearchError, 0);
    EXPECT_EQ(std::string(entry.OwnName), row.own);
    EXPECT_EQ(View(entry.Name), row.shown);
    SearchNext(entry);
  }
  EXPECT_EQ(SearchError, kErrNoMoreFiles);
  SearchClose(entry);
}

TEST(Search, TimeOutsideThePackedRangeGivesTheEarliest) {
  // 1601 and 1979 lie before the packed range, 2200 after it.
  const std::uint64_t kTicksPerSecond = 10000000;
  const std::uint64_t k1979 = (11644473600ULL + 9ULL * 365 * 86400) * kTicksPerSecond;
  const std::uint64_t k2200 = (11644473600ULL + 230ULL * 365 * 86400) * kTicksPerSecond;
  for (std::uint64_t when : {std::uint64_t{0}, k1979, k2200}) {
    ScriptedSearch script({Entry("x", 0x20, 0, when)});
    SearchEntry entry{};
    entry.PackedTime = 0xFFFFFFFF;
    ASSERT_EQ(StartSearch("x", 0x27, entry), 0);
    EXPECT_EQ(entry.PackedTime, kEarliestPackedTime) << when;
    StopSearch(entry);
  }
}

TEST(Search, PacksTheLocalLastWriteTime) {
#ifndef _WIN32
  // A zone away from UTC, so a missing local conversion shows.
  const char* saved = std::getenv("TZ");
  const std::string before = saved != nullptr ? saved : "";
  setenv("TZ", "QLB-2", 1);
  tzset();
#endif
  TempDir dir;
  const std::string file = dir.At("t.log");
  testing::WriteFile(file, "");
  testing::SetLocalWriteTime(file, 2024, 3, 5, 14, 30, 17);
  SearchEntry entry{};
  const std::int32_t code = StartSearch(file.c_str(), 0x27, entry);
  StopSearch(entry);
#ifndef _WIN32
  if (saved != nullptr) setenv("TZ", before.c_str(), 1); else unsetenv("TZ");
  tzset();
#endif
  ASSERT_EQ(code, 0);
  EXPECT_EQ(entry.PackedTime & 0xFFFF, 0x73C8u);
  EXPECT_EQ(entry.PackedTime >> 16, 0x5865u);
}

TEST(Search, SizeKeepsTheLow32BitsAndFullSizeAll) {
  struct Case {
    std::uint64_t bytes;
    std::int32_t size;
  };
  const Case cases[] = {{5000000000ULL, 705032704}, {3000000000ULL, -1294967296}};
  TempDir dir;
  for (const Case& c : cases) {
    const std::string file = dir.At("big.log");
    testing::WriteFile(file, "");
    std::error_code error;
    std::filesystem::resize_file(file, c.bytes, error);
    if (error) GTEST_SKIP() << "no sparse file of " << c.bytes << ": " << error.message();
    SearchEntry entry{};
    ASSERT_EQ(StartSearch(file.c_str(), 0x27, entry), 0);
    StopSearch(entry);
    EXPECT_EQ(entry.Size, c.size);
    EXPECT_EQ(entry.FullSize, c.bytes);
  }
}

TEST(Search, ReportsHiddenSystemAndReadOnlyFiles) {
  TempDir dir;
  struct Case {
    const char* name;
    bool (*set)(const std::string&);
    std::uint8_t bit;
  };
  const Case cases[] = {
      {"plain.log", nullptr, kAttrArchive},
      {"ro.log", [](const std::string& p) { return testing::SetReadOnly(p, true); },
       kAttrReadOnly},
      {"hidden.log", testing::SetHidden, kAttrHidden},
      {"system.log", testing::SetSystem, kAttrSystem},
  };
  for (const Case& c : cases) {
    const std::string file = dir.At(c.name);
    testing::WriteFile(file, "x");
    if (c.set != nullptr && !c.set(file)) {
      // Only read-only exists on POSIX; Windows must have them all.
      if (testing::kWindows) ADD_FAILURE() << "cannot set the attribute of " << c.name;
      continue;
    }
    SearchEntry entry{};
    ASSERT_EQ(StartSearch(file.c_str(), 0x27, entry), 0) << c.name;
    StopSearch(entry);
    EXPECT_EQ(entry.Attributes & c.bit, c.bit) << c.name;
    EXPECT_EQ(View(entry.Name), c.name);
  }
}

#ifdef _WIN32
TEST(Search, FoundNamesAreInTheOemCodePage) {
  TempDir dir;
  if (!testing::EightBitNamesWork(dir.path))
    GTEST_SKIP() << "8-bit names cannot be created: run wine with LC_ALL=C.UTF-8";
  // ü is 0xFC in the ANSI code page 1252.
  testing::WriteFile(dir.At("m\xFCller.log"), "");
  SearchEntry entry{};
  ASSERT_EQ(StartSearch(dir.At("*.log").c_str(), 0x27, entry), 0);
  StopSearch(entry);
  EXPECT_EQ(View(entry.Name), "m\x81ller.log");
}
#endif

TEST(Search, FailuresWithoutAnErrorNumberAreStoredAs31) {
  TempDir dir;
  testing::WriteFile(dir.At("a.log"), "");
  testing::WriteFile(dir.At("b.log"), "");
  for (Service service : {Service::kFindFirstFile, Service::kFindNextFile, Service::kFindClose}) {
    SCOPED_TRACE(testing::ServiceName(service));
    SearchEntry entry{};
    entry.Handle = kInvalidHandle;
    OsHandle handle = kInvalidHandle;
    {
      testing::ScopedFaults fail({0, service, 1, false, 0});
      SearchFirst(ToCounted(dir.At("*.log")), 0x27, entry);
      handle = entry.Handle;
      if (SearchError == 0) SearchNext(entry);
      // A failed step never reads as an entry found.
      if (SearchError == 0) SearchNext(entry);
      EXPECT_NE(SearchError, 0);
      if (service != Service::kFindClose) {
        EXPECT_EQ(SearchError, kErrGeneralFailure);
      }
      SearchClose(entry);
      if (service == Service::kFindClose) {
        EXPECT_EQ(SearchError, kErrGeneralFailure);
      }
    }
    if (service == Service::kFindClose && handle != kInvalidHandle)
      NativePlatform().findClose(handle);
  }
}

}  // namespace
}  // namespace quilbo
