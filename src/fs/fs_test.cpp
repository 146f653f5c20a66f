// Files and the directory walk as the core sees them: the walk's filter and
// its failures, the helpers' name rules, and the record-sized block file.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "errors/io_status.h"
#include "fs/block_file.h"
#include "fs/file_helpers.h"
#include "fs/search.h"
#include "support/fault_platform.h"
#include "support/fs_fixtures.h"

namespace quilbo {
namespace {

namespace fs = std::filesystem;
using testing::Service;
using testing::TempDir;
using testing::WriteFile;

std::string Walk(std::string_view pattern, std::uint32_t mask) {
  SearchEntry entry{};
  std::vector<std::string> names;
  for (SearchFirst(pattern, mask, entry); SearchError == 0; SearchNext(entry))
    names.emplace_back(View(entry.Name));
  SearchClose(entry);
  std::ranges::sort(names);
  std::string joined;
  for (const std::string& name : names) joined += name + ";";
  return joined;
}

TEST(Search, WalksTheFilesTheMaskAcceptsAndReportsFailedSteps) {
  TempDir dir;
  WriteFile(dir.At("a.log"), "");
  WriteFile(dir.At("b.log"), "");
  fs::create_directory(dir.At("old.log"));
  EXPECT_EQ(Walk(dir.At("*.log"), 0x27), "a.log;b.log;");
  EXPECT_EQ(Walk(dir.At("*"), 0x3F), ".;..;a.log;b.log;old.log;");
  for (const auto& [pattern, code] : {std::pair{dir.At("old.log"), kErrNoMoreFiles},
                                      {dir.At("none") + testing::kSep + "*", kErrPathNotFound},
                                      {dir.At("*.txt"), kErrFileNotFound}}) {
    SearchEntry entry{};
    SearchFirst(pattern, 0x27, entry);
    EXPECT_EQ(SearchError, code) << pattern;
    EXPECT_EQ(entry.Handle, kInvalidHandle);
    SearchClose(entry);
    EXPECT_EQ(SearchError, 0);
  }
  // A failed step never reads as an entry found, and one without an error
  // number is stored as 31; a failed close still closes the record.
  for (const auto& [service, error] : {std::pair{Service::kFindFirstFile, 0}, {Service::kFindNextFile, 0},
                                       {Service::kFindClose, 0}, {Service::kFindClose, 6}}) {
    SearchEntry entry{};
    OsHandle handle = kInvalidHandle;
    {
      testing::ScopedFaults fail({0, service, 1, false, error});
      SearchFirst(dir.At("*.log"), 0x27, entry);
      handle = entry.Handle;
      if (SearchError == 0) SearchNext(entry);
      if (SearchError == 0) SearchNext(entry);
      EXPECT_EQ(SearchError, service == Service::kFindClose ? kErrNoMoreFiles : kErrGeneralFailure);
      SearchClose(entry);
    }
    EXPECT_EQ(SearchError, service == Service::kFindClose ? (error == 0 ? kErrGeneralFailure : error) : 0);
    EXPECT_EQ(entry.Handle, kInvalidHandle);
    if (service == Service::kFindClose) NativePlatform().findClose(handle);
  }
}

TEST(FileHelpers, NamesAreNeverPatternsAndNeverCut) {
  TempDir dir;
  WriteFile(dir.At("a1.log"), "one");
  fs::create_directory(dir.At("folder"));
  for (const char* name : {"a?.log", "a*.log", "*", "a1.*", "folder", "absent"}) {
    EXPECT_FALSE(IsPlainFile(dir.At(name))) << name;
    EXPECT_EQ(FileTimeOf(dir.At(name)), -1) << name;
    EXPECT_FALSE(RemoveFile(dir.At(name))) << name;
  }
  FileInfo found{};
  ASSERT_TRUE(IsPlainFile(dir.At("a1.log")) && LookUpFile(dir.At("a1.log"), &found));
  EXPECT_EQ(FileTimeOf(dir.At("a1.log")), static_cast<std::int32_t>(PackedLocalTime(found.lastWriteTime)));
  // A name that does not fit the platform's longest path fails; its cut
  // form, another file, is never reached. Below that any length works.
  const std::string cut = testing::DeepPath(dir, static_cast<std::size_t>(kMaxPath - 1));
  WriteFile(cut, "keep");
  EXPECT_TRUE(PathFits(cut) && IsPlainFile(cut));
  EXPECT_FALSE(PathFits(cut + "x") || IsPlainFile(cut + "x") || RemoveFile(cut + "x") ||
               MakeDirectory(cut + "x") || ScratchName(cut + "x") != nullptr);
  EXPECT_FALSE(RemoveFile(cut + std::string(1, '\0') + "x"));
  EXPECT_TRUE(RemoveFile(cut) && MakeDirectory(cut));
  const std::string nested = dir.At("logs") + testing::kSep + "backup";
  EXPECT_FALSE(MakeDirectory(nested) || MakeDirectory(dir.path));  // one level, a new one
  EXPECT_TRUE(MakeDirectory(dir.At("logs")) && MakeDirectory(nested));
  IoStatus = 42;  // the helpers report through their results only
  EXPECT_FALSE(RemoveFile(dir.At("absent")));
  EXPECT_EQ(TakeIoStatus(), 42);
}

TEST(FileHelpers, TypedPathsAndTheirFolderPart) {
  // Windows: no drive letters aside, '/' separates as the system takes it.
  // POSIX: both slashes separate what was typed; no drive letters.
  const auto D = DirectoryPart, T = TypedPath;
  const struct { decltype(D) rule; const char* path; const char* windows; const char* posix; } rows[] = {
      {D, "C:\\logs\\*.log", "C:\\logs\\", "C:\\logs\\"}, {D, "C:*.log", "C:", ""}, {D, "*.log", "", ""},
      {D, "a\\b/c", "a\\b/", "a\\b/"}, {D, "a/b\\c", "a/b\\", "a/b\\"}, {D, "/x.log", "/", "/"}, {D, "", "", ""},
      {T, "logs\\*.log", "logs\\*.log", "logs/*.log"}, {T, "a\\b/c\\", "a\\b/c\\", "a/b/c/"}, {T, "C:x", "C:x", "C:x"},
      {T, "", "", ""}};
  for (const auto& row : rows)
    EXPECT_EQ(row.rule(row.path), kPathSeparator == '\\' ? row.windows : row.posix) << row.path;
}

TEST(BlockFile, RecordsTransferAndFailuresStoreTheirCodes) {
  TempDir dir;
  BlockFile file{};
  char buffer[16] = {};
  std::uint32_t done = 9;
  AttachName(file, dir.At("f.log"));
  OpenRead(file, 1);
  EXPECT_EQ(TakeIoStatus(), kErrFileNotFound);
  ReadBlock(file, buffer, 1, &done);
  EXPECT_EQ(TakeIoStatus(), kIoNotOpen);
  OpenNew(file, 0);
  EXPECT_EQ(TakeIoStatus(), kErrInvalidParameter);
  OpenNew(file, 4);
  WriteBlock(file, "0123456789", 2, &done);
  SeekTo(file, 1);
  ReadBlock(file, buffer, 2, &done);  // one whole record is left
  EXPECT_EQ(done, 1u);
  EXPECT_EQ(std::string(buffer, 4), "4567");
  EXPECT_TRUE(AtEnd(file));
  ReadBlock(file, buffer, 0, nullptr);
  EXPECT_EQ(TakeIoStatus(), 0);
  SeekTo(file, 1);
  ReadBlock(file, buffer, 2, nullptr);
  EXPECT_EQ(TakeIoStatus(), kIoReadBeyondEnd);
  EXPECT_EQ(SizeOf(file), 2);
  for (const Service service : {Service::kReadFile, Service::kWriteFile, Service::kSetFilePointer,
                                Service::kFlushFile, Service::kCloseHandle}) {
    testing::ScopedFaults fail({0, service, 1, false, 0});
    ReadBlock(file, buffer, 1, &done);
    if (service == Service::kWriteFile) WriteBlock(file, buffer, 1, &done);
    SeekTo(file, 0);
    FlushFile(file);
    if (service == Service::kCloseHandle) CloseStream(file);
    EXPECT_EQ(TakeIoStatus(), kErrGeneralFailure) << testing::ServiceName(service);
  }
  EXPECT_EQ(file.mode, BlockMode::kClosed);
  NativePlatform().closeHandle(file.handle);  // the injected failure closed nothing
  RenameFile(file, dir.At("g.log"));
  EXPECT_EQ(TakeIoStatus(), 0);
  EXPECT_EQ(testing::ReadWholeFile(dir.At("g.log")), "01234567");
}

// A file opened elsewhere (an unnamed one, one inside a folder): the
// BlockFile takes it over once it has a name for the notes, and can give it
// up without a word where a failed close must not hide another failure.
TEST(BlockFile, TakesOverAnOpenHandle) {
  TempDir dir;
  const OsHandle handle = CreateFileByPath(dir.At("h.log").c_str(), FileAccess::kReadWrite, FileCreation::kCreateNew);
  BlockFile file{};
  OpenHandle(file, handle, 2);
  EXPECT_EQ(TakeIoStatus(), kIoNotAttached);
  AttachName(file, "the new file");
  OpenHandle(file, handle, 2);
  std::uint32_t done = 0;
  WriteBlock(file, "abcde", 2, &done);
  EXPECT_EQ(done, 2u);
  EXPECT_EQ(SizeOf(file), 2);
  {
    testing::ScopedFaults fail({0, Service::kCloseHandle, 1, false, 0});
    DiscardFile(file);
  }
  EXPECT_EQ(TakeIoStatus(), 0);
  EXPECT_EQ(file.mode, BlockMode::kClosed);
  NativePlatform().closeHandle(handle);  // the injected failure closed nothing
  EXPECT_EQ(testing::ReadWholeFile(dir.At("h.log")), "abcd");
}

}  // namespace
}  // namespace quilbo
