#include "fs/block_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "errors/io_status.h"
#include "support/fs_fixtures.h"
#include "support/fault_platform.h"

namespace quilbo {
namespace {

using testing::CallsOf;
using testing::Service;
using testing::TempDir;

struct BlockFileTest : ::testing::Test {
  void SetUp() override { TakeIoStatus(); }
  void TearDown() override {
    if (file.mode == BlockMode::kOpen) CloseStream(file);
    TakeIoStatus();
  }
  // An open file of the given content, record size 1.
  void OpenWith(std::string_view content) {
    testing::WriteFile(dir.At("f.log"), content);
    AttachName(file, dir.At("f.log"));
    OpenRead(file, 1);
    ASSERT_EQ(TakeIoStatus(), 0);
  }
  TempDir dir;
  BlockFile file{};
  char buffer[16384] = {};
};

TEST_F(BlockFileTest, OpenOfAMissingFileLeavesItClosed) {
  AttachName(file, dir.At("absent.log"));
  OpenRead(file, 1);
  EXPECT_EQ(TakeIoStatus(), kErrFileNotFound);
  EXPECT_EQ(file.mode, BlockMode::kClosed);
  std::uint32_t done = 99;
  ReadBlock(file, buffer, 1, &done);
  EXPECT_EQ(TakeIoStatus(), kIoNotOpen);
  EXPECT_EQ(done, 0u);
  AttachName(file, dir.At("absent") + testing::kSep + "x.log");
  OpenNew(file, 1);
  EXPECT_EQ(TakeIoStatus(), kErrPathNotFound);
}

TEST_F(BlockFileTest, ReadOnlyFileCannotBeOpened) {
  testing::WriteFile(dir.At("ro.log"), "x");
  ASSERT_TRUE(testing::SetReadOnly(dir.At("ro.log"), true));
  if (!testing::WriteOpenRefused(dir.At("ro.log")))
    GTEST_SKIP() << "this platform lets the user write to read-only files";
  AttachName(file, dir.At("ro.log"));
  OpenRead(file, 1);
  EXPECT_EQ(TakeIoStatus(), kErrAccessDenied);
  EXPECT_EQ(file.mode, BlockMode::kClosed);
}

TEST_F(BlockFileTest, NeverAttachedAndClosedRecordsRefuse) {
  OpenRead(file, 1);
  EXPECT_EQ(TakeIoStatus(), kIoNotAttached);
  AttachName(file, dir.At("f.log"));
  EXPECT_FALSE(AtEnd(file));
  EXPECT_EQ(TakeIoStatus(), kIoNotOpen);
  CloseStream(file);
  EXPECT_EQ(TakeIoStatus(), kIoNotOpen);
}

// No operation looks at a pending code first, and none clears it.
TEST_F(BlockFileTest, OperationsRunWhileAFailureIsPending) {
  testing::WriteFile(dir.At("f.log"), "abc");
  AttachName(file, dir.At("f.log"));
  IoStatus = 42;
  RenameFile(file, dir.At("g.log"));
  EXPECT_TRUE(testing::Exists(dir.At("g.log")));
  OpenRead(file, 1);
  EXPECT_EQ(file.mode, BlockMode::kOpen);
  std::uint32_t done = 0;
  ReadBlock(file, buffer, 3, &done);
  EXPECT_EQ(done, 3u);
  EXPECT_TRUE(AtEnd(file));
  CloseStream(file);
  EXPECT_EQ(TakeIoStatus(), 42);
}

TEST_F(BlockFileTest, RenameNeverOverwritesAndMovesTheRecordsName) {
  testing::WriteFile(dir.At("a.log"), "old");
  testing::WriteFile(dir.At("b.log"), "other");
  AttachName(file, dir.At("a.log"));
  RenameFile(file, dir.At("b.log"));
  EXPECT_EQ(TakeIoStatus(), kErrAlreadyExists);
  EXPECT_STREQ(file.name, dir.At("a.log").c_str());
  EXPECT_EQ(testing::ReadWholeFile(dir.At("b.log")), "other");

  RenameFile(file, dir.At("a.log.tmp"));
  EXPECT_EQ(TakeIoStatus(), 0);
  EXPECT_STREQ(file.name, dir.At("a.log.tmp").c_str());
  EXPECT_FALSE(testing::Exists(dir.At("a.log")));
  OpenRead(file, 1);
  std::uint32_t done = 0;
  ReadBlock(file, buffer, sizeof buffer, &done);
  EXPECT_EQ(std::string(buffer, done), "old");

  BlockFile missing{};
  AttachName(missing, dir.At("absent.log"));
  RenameFile(missing, dir.At("c.log"));
  EXPECT_EQ(TakeIoStatus(), kErrFileNotFound);
  EXPECT_STREQ(missing.name, dir.At("absent.log").c_str());
}

TEST_F(BlockFileTest, ShortReadCountsRecordsWithoutFailure) {
  OpenWith(std::string(100, 'r'));
  std::uint32_t done = 0;
  EXPECT_FALSE(AtEnd(file));
  ReadBlock(file, buffer, 16384, &done);
  EXPECT_EQ(done, 100u);
  EXPECT_TRUE(AtEnd(file));
  ReadBlock(file, buffer, 16384, &done);
  EXPECT_EQ(done, 0u);
  EXPECT_EQ(TakeIoStatus(), 0);
}

TEST_F(BlockFileTest, ShortTransfersWithoutDoneStoreTheirCodes) {
  OpenWith("0123456789");
  ReadBlock(file, buffer, 4, nullptr);
  EXPECT_EQ(TakeIoStatus(), 0);
  ReadBlock(file, buffer, 10, nullptr);
  EXPECT_EQ(TakeIoStatus(), kIoReadBeyondEnd);
  {
    testing::ScopedFaults count(testing::FaultPlan{});
    // A disk that takes only part of a write.
    testing::FaultTable().writeFile = [](OsHandle, const void*, std::uint32_t size,
                                         std::uint32_t* done) {
      *done = size / 2;
      return true;
    };
    WriteBlock(file, buffer, 8, nullptr);
    EXPECT_EQ(TakeIoStatus(), kIoDiskFull);
    std::uint32_t done = 0;
    WriteBlock(file, buffer, 8, &done);
    EXPECT_EQ(done, 4u);
    EXPECT_EQ(TakeIoStatus(), 0);
  }
}

TEST_F(BlockFileTest, FailedTransfersStoreThePlatformCode) {
  OpenWith("0123456789");
  for (Service service : {Service::kReadFile, Service::kWriteFile}) {
    testing::FaultPlan plan;
    plan.failService = service;
    plan.error = kErrDiskFull;
    testing::ScopedFaults fail(plan);
    std::uint32_t done = 5;
    if (service == Service::kReadFile)
      ReadBlock(file, buffer, 4, &done);
    else
      WriteBlock(file, buffer, 4, &done);
    EXPECT_EQ(TakeIoStatus(), kErrDiskFull) << testing::ServiceName(service);
    EXPECT_EQ(done, 0u);
  }
}

TEST_F(BlockFileTest, CountZeroMakesNoPlatformCall) {
  OpenWith("x");
  testing::ScopedFaults count(testing::FaultPlan{});
  std::uint32_t done = 9;
  WriteBlock(file, buffer, 0, &done);
  EXPECT_EQ(done, 0u);
  ReadBlock(file, buffer, 0, nullptr);
  EXPECT_EQ(CallsOf(Service::kWriteFile) + CallsOf(Service::kReadFile), 0u);
  EXPECT_EQ(TakeIoStatus(), 0);
}

TEST_F(BlockFileTest, SeekToTheEndAndBeyond) {
  OpenWith("0123456789");
  SeekTo(file, 10);
  EXPECT_TRUE(AtEnd(file));
  SeekTo(file, 15);
  EXPECT_FALSE(AtEnd(file));
  std::uint32_t done = 9;
  ReadBlock(file, buffer, 4, &done);
  EXPECT_EQ(done, 0u);
  SeekTo(file, 6);
  ReadBlock(file, buffer, 4, &done);
  EXPECT_EQ(std::string(buffer, done), "6789");
  EXPECT_EQ(TakeIoStatus(), 0);
  EXPECT_EQ(std::filesystem::file_size(dir.At("f.log")), 10u);
}

TEST_F(BlockFileTest, RecordSizeScalesPositionsAndCounts) {
  testing::WriteFile(dir.At("f.log"), "0123456789");
  AttachName(file, dir.At("f.log"));
  OpenRead(file, 4);
  SeekTo(file, 1);
  std::uint32_t done = 0;
  ReadBlock(file, buffer, 5, &done);
  EXPECT_EQ(done, 1u) << "a partial record is not counted";
  EXPECT_EQ(std::string(buffer, 6), "456789");
  EXPECT_EQ(TakeIoStatus(), 0);
}

TEST_F(BlockFileTest, PositionsBeyond4GiB) {
  const std::uint64_t kBig = 5000000000ULL;
  testing::WriteFile(dir.At("f.log"), "");
  std::error_code error;
  std::filesystem::resize_file(dir.At("f.log"), kBig + 100, error);
  if (error) GTEST_SKIP() << error.message();
  AttachName(file, dir.At("f.log"));
  OpenRead(file, 1);
  SeekTo(file, static_cast<std::int64_t>(kBig));
  EXPECT_FALSE(AtEnd(file));
  std::uint32_t done = 0;
  ReadBlock(file, buffer, 16384, &done);
  EXPECT_EQ(done, 100u);
  EXPECT_TRUE(AtEnd(file));
  EXPECT_EQ(TakeIoStatus(), 0);
}

TEST_F(BlockFileTest, OpenNewEmptiesAndWritesContinueReads) {
  OpenWith("previous content");
  OpenNew(file, 1);  // closes the open handle first
  ASSERT_EQ(TakeIoStatus(), 0);
  EXPECT_TRUE(AtEnd(file));
  std::uint32_t done = 0;
  WriteBlock(file, "abcdef", 6, &done);
  EXPECT_EQ(done, 6u);
  SeekTo(file, 2);
  ReadBlock(file, buffer, 2, &done);
  WriteBlock(file, "XY", 2, &done);
  CloseStream(file);
  EXPECT_EQ(TakeIoStatus(), 0);
  EXPECT_EQ(testing::ReadWholeFile(dir.At("f.log")), "abcdXY");
}

TEST_F(BlockFileTest, FailedCloseStillCloses) {
  OpenWith("x");
  const OsHandle handle = file.handle;
  {
    testing::FaultPlan plan;
    plan.failService = Service::kCloseHandle;
    plan.error = kErrInvalidHandle;
    testing::ScopedFaults fail(plan);
    CloseStream(file);
  }
  EXPECT_EQ(TakeIoStatus(), kErrInvalidHandle);
  EXPECT_EQ(file.mode, BlockMode::kClosed);
  CloseStream(file);
  EXPECT_EQ(TakeIoStatus(), kIoNotOpen);
  NativePlatform().closeHandle(handle);
}

// The record keeps the first bytes of a name longer than the platform's
// longest path, but opening or renaming it fails: the cut name may be
// another file.
TEST_F(BlockFileTest, LongNamesAreKeptCutButNeverOpened) {
  const std::string cut = testing::DeepPath(dir, static_cast<std::size_t>(kMaxPath - 1));
  testing::WriteFile(cut, "keep");
  const std::string longName = cut + "xxxx";
  AttachName(file, longName);
  EXPECT_EQ(std::string(file.name), cut);
  for (void (*open)(BlockFile&, std::uint32_t) : {OpenRead, OpenNew}) {
    open(file, 1);
    EXPECT_EQ(TakeIoStatus(), kErrFilenameTooLong);
    EXPECT_EQ(file.mode, BlockMode::kClosed);
  }
  RenameFile(file, dir.At("moved.log"));
  EXPECT_EQ(TakeIoStatus(), kErrFilenameTooLong);
  EXPECT_EQ(testing::ReadWholeFile(cut), "keep");

  testing::WriteFile(dir.At("a.log"), "a");
  AttachName(file, dir.At("a.log"));
  RenameFile(file, longName);
  EXPECT_EQ(TakeIoStatus(), kErrFilenameTooLong);
  EXPECT_STREQ(file.name, dir.At("a.log").c_str());
  EXPECT_EQ(testing::ReadWholeFile(cut), "keep");
  EXPECT_TRUE(testing::Exists(dir.At("a.log")));

  // A name that just fits is opened and renamed like any other (on Linux
  // that is far beyond 259 bytes).
  AttachName(file, dir.At("a.log"));
  RenameFile(file, cut + ".x");
  EXPECT_EQ(TakeIoStatus(), kErrFilenameTooLong);  // one byte too long
  const std::string fits = cut.substr(0, cut.size() - 4) + ".tmp";
  RenameFile(file, fits);
  ASSERT_EQ(TakeIoStatus(), 0);
  OpenRead(file, 1);
  ASSERT_EQ(TakeIoStatus(), 0);
  char byte = 0;
  ReadBlock(file, &byte, 1, nullptr);
  EXPECT_EQ(TakeIoStatus(), 0);
  EXPECT_EQ(byte, 'a');
  CloseStream(file);
  EXPECT_EQ(TakeIoStatus(), 0);
}

TEST_F(BlockFileTest, ZeroRecordSizeIsRefused) {
  OpenWith("x");
  CloseStream(file);
  OpenRead(file, 0);
  EXPECT_EQ(TakeIoStatus(), kErrInvalidParameter);
  EXPECT_EQ(file.mode, BlockMode::kClosed);
}

// A platform call that fails without an error number is still a failure:
// stored as 0 it would read as success (a cut would silently drop a block).
TEST_F(BlockFileTest, FailuresWithoutAnErrorNumberAreStoredAs31) {
  struct Case {
    const char* what;
    Service service;
    void (*step)(BlockFile& file, char* buffer);
  };
  const Case cases[] = {
      {"read", Service::kReadFile,
       [](BlockFile& f, char* b) { std::uint32_t done = 0; ReadBlock(f, b, 4, &done); }},
      {"write", Service::kWriteFile,
       [](BlockFile& f, char* b) { std::uint32_t done = 0; WriteBlock(f, b, 4, &done); }},
      {"seek", Service::kSetFilePointer, [](BlockFile& f, char*) { SeekTo(f, 1); }},
      {"end test", Service::kSetFilePointer, [](BlockFile& f, char*) { AtEnd(f); }},
      {"size", Service::kSetFilePointer, [](BlockFile& f, char*) { SizeOf(f); }},
      {"flush", Service::kFlushFile, [](BlockFile& f, char*) { FlushFile(f); }},
      {"close", Service::kCloseHandle, [](BlockFile& f, char*) { CloseStream(f); }},
      {"open", Service::kCreateFile, [](BlockFile& f, char*) { OpenRead(f, 1); }},
      {"rename", Service::kMoveFile,
       [](BlockFile& f, char*) { RenameFile(f, std::string(f.name) + ".moved"); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    OpenWith("0123456789");
    const OsHandle handle = file.handle;
    {
      testing::ScopedFaults fail({0, c.service, 1, false, 0});
      c.step(file, buffer);
    }
    EXPECT_EQ(TakeIoStatus(), kErrGeneralFailure);
    if (file.mode == BlockMode::kOpen) {
      CloseStream(file);
    } else if (c.service == Service::kCloseHandle) {
      NativePlatform().closeHandle(handle);  // the injected failure closed nothing
    }
    TakeIoStatus();
  }
}

TEST_F(BlockFileTest, SizeAndFlush) {
  OpenWith("0123456789");
  SeekTo(file, 3);
  EXPECT_EQ(SizeOf(file), 10);
  std::uint32_t done = 0;
  ReadBlock(file, buffer, 1, &done);
  EXPECT_EQ(buffer[0], '3');  // the position stays
  WriteBlock(file, "ab", 2, &done);
  FlushFile(file);
  EXPECT_EQ(TakeIoStatus(), 0);
  CloseStream(file);
  SizeOf(file);
  EXPECT_EQ(TakeIoStatus(), kIoNotOpen);
  FlushFile(file);
  EXPECT_EQ(TakeIoStatus(), kIoNotOpen);
  EXPECT_EQ(testing::ReadWholeFile(dir.At("f.log")), "0123ab6789");
}

}  // namespace
}  // namespace quilbo
