// The parts of archiving hard to reach from outside: the one-pass count of
// a log's copy, the cut's file names, and what a cut does with a file it
// finds under its name.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "archive/archive_log.h"
#include "errors/exceptions.h"
#include "errors/io_status.h"
#include "errors/termination.h"
#include "fs/file_helpers.h"
#include "fs/run_folders.h"
#include "support/fault_platform.h"
#include "support/fs_fixtures.h"

namespace quilbo {
namespace {

using testing::CopiedByTheLineRule;

CopyCount CountInBlocks(const std::string& log, std::size_t block, std::int64_t keep) {
  CopyCount count;
  StartCount(count);
  for (std::size_t at = 0; at < log.size(); at += block) {
    const std::string part = log.substr(at, block);
    if (!CountBlock(count, part.data(), static_cast<std::uint32_t>(part.size()), keep)) break;
  }
  FinishCount(count);
  return count;
}

// However long the log, the marks stay few and one lies shortly before any
// point of the last keep bytes: the copy is taken up again there.
TEST(CopyCount, CountsTheCopyAndMarksStayCloseToTheKeptTail) {
  for (const std::size_t block : {1u, 3u, 4096u}) {
    const CopyCount count = CountInBlocks("a\rb\n\x1a" "c\n", block, 100);
    EXPECT_TRUE(count.copy == 4 && count.textEnd == 4 && count.text.ended) << "in blocks of " << block;
  }
  std::string log;
  for (int i = 0; i < 20000; ++i) log += "line " + std::to_string(i) + "\r\n";
  for (const std::int64_t keep : {10, 5000, 150000}) {
    const CopyCount count = CountInBlocks(log, 256, keep);
    EXPECT_LE(count.marks, kCopyMarks);
    for (const std::int64_t at : {count.copy - keep, count.copy - 1}) {
      const CopyMark mark = MarkBefore(count, at);
      EXPECT_LE(mark.copy, at);
      EXPECT_LE(at - mark.copy, 2 * 256 * count.spacing + 256);
      const std::string before = log.substr(0, static_cast<std::size_t>(mark.log));
      EXPECT_EQ(mark.copy, std::ssize(before) - std::ranges::count(before, '\r') + std::ranges::count(before, '\n'));
    }
  }
  EXPECT_EQ(MarkBefore(CountInBlocks(log, 256, 10), 0).copy, 0);
}

TEST(CutFileName, TmpThenNumberedThenShorter) {
  const std::string folder = std::string("Archive") + kPathSeparator;
  EXPECT_EQ(CutFileName(folder + "a.log", 0), folder + "a.log.tmp");
  EXPECT_EQ(CutFileName(folder + "a.log", 3), folder + "a.log.3.tmp");
  // A name of at most 255 bytes; on Windows a path of at most 259.
  const std::size_t room = kMaxPath == 260 ? 247 : 251;
  EXPECT_EQ(CutFileName(folder + std::string(253, 'n'), 0), folder + std::string(room, 'n') + ".tmp");
  EXPECT_EQ(CutFileName(folder + std::string(253, 'n'), 12), folder + std::string(room - 3, 'n') + ".12.tmp");
  EXPECT_EQ(CutFileName(std::string(kMaxPath - 5, 'f') + kPathSeparator + "a", 0), "");
}

struct ArchiveRun {
  testing::TempDir dir;
  std::string archives = dir.At("arc");
  std::string Archive(const std::string& name) { return archives + testing::kSep + name; }
  void Run(const std::vector<std::string>& logs, std::int32_t truncateKb) {
    std::filesystem::create_directories(archives);
    RunFolders run{};
    OpenRunFolders(run, dir.path + testing::kSep, archives);
    try {
      for (const std::string& log : logs) {
        ArchivedLog done;
        ArchiveLogFile(run, log, log, 0, truncateKb, false, &done);
      }
    } catch (...) {
      CloseRunFolders(run);
      throw;
    }
    CloseRunFolders(run);
  }
};

// Each archive is created first or opened first as the last one turned out
// to be: a wrong guess costs a call, never a line, and refuses what the
// other order refuses.
TEST(Archive, NewAndExistingArchivesInEveryOrder) {
  ArchiveRun run;
  const std::vector<std::string> logs = {"n1", "e1", "n2", "n3", "e2", "e3", "n4", "d"};
  std::filesystem::create_directories(run.Archive("d"));
  for (const std::string& name : logs) {
    testing::WriteFile(run.dir.At(name), name + "\n");
    if (name[0] == 'e') testing::WriteFile(run.Archive(name), "old\r\n");
  }
  InstallFailureReporting();
  try {
    run.Run(logs, 0);
    ADD_FAILURE() << "a folder under an archive's name was taken for an archive";
  } catch (const EInOutError& error) {
    EXPECT_EQ(error.IoCode(), kErrAccessDenied);
  }
  for (const std::string& name : logs) {
    const std::string old = name[0] == 'e' ? "old\r\n" : "";
    EXPECT_EQ(name == "d" || testing::ReadWholeFile(run.Archive(name)) == old + name + "\r\n", true) << name;
  }
}

// A file under the cut's name that holds exactly the start of what the cut
// keeps is an earlier cut's leftover: removed after the replace, but only
// when its bytes could be read and compared.
OsHandle gLeftover = kInvalidHandle;

TEST(Cut, RemovesALeftoverOnlyWhenItsBytesWereCompared) {
  for (const bool readFails : {false, true}) {
    ArchiveRun run;
    std::string log;
    for (int i = 0; i < 300; ++i) log += "line " + std::to_string(i) + "\n";
    testing::WriteFile(run.dir.At("a.log"), log);
    const std::string kept = CopiedByTheLineRule(log).substr(CopiedByTheLineRule(log).size() - 1024);
    std::filesystem::create_directories(run.archives);
    testing::WriteFile(run.archives + testing::kSep + "a.log.tmp", kept.substr(0, 100));
    testing::ScopedFaults faults(testing::FaultPlan{});
    gLeftover = kInvalidHandle;
    if (readFails) {
      testing::FaultTable().createFileAt = [](OsHandle folder, const char* name, FileAccess access,
                                              FileCreation creation) {
        const OsHandle file = NativePlatform().createFileAt(folder, name, access, creation);
        if (std::string_view(name).ends_with(".tmp")) gLeftover = file;
        return file;
      };
      // The bytes arrive, but the read reports a failure: they count for nothing.
      testing::FaultTable().readFile = [](OsHandle file, void* into, std::uint32_t size, std::uint32_t* got) {
        const bool ok = NativePlatform().readFile(file, into, size, got);
        if (file == gLeftover) NativePlatform().setLastError(kErrDiskFull);
        return ok && file != gLeftover;
      };
    }
    run.Run({"a.log"}, 1);
    EXPECT_EQ(testing::ReadWholeFile(run.archives + testing::kSep + "a.log"), kept);
    EXPECT_EQ(std::filesystem::exists(run.archives + testing::kSep + "a.log.tmp"), readFails);
    EXPECT_FALSE(std::filesystem::exists(run.archives + testing::kSep + "a.log.1.tmp"));
  }
}

// Wherever the cut falls in the copy (inside a line, between a CR and its
// LF, in a line longer than a block, blocks after the first), the archive
// keeps exactly the last bytes of its text and the copy.
TEST(Cut, KeepsExactlyTheLastBytesWhereverTheCutFalls) {
  std::string mixed, longLines;
  for (int i = 0; i < 3000; ++i) mixed += "line " + std::to_string(i) + (i % 3 == 0 ? "\n" : i % 3 == 1 ? "\r\n" : "\r");
  for (int i = 0; i < 30; ++i) longLines += std::string(static_cast<std::size_t>(4095 + i % 3), 'v') + "\r\n";
  std::string old(3000, 'o');
  old[2950] = '\x1A';  // an end marker the append cuts away
  const std::vector<std::tuple<bool, std::string, std::int32_t>> rows = {
      {true, mixed, 1}, {false, mixed, 2}, {true, longLines, 64}, {false, longLines + "end", 65},
      {true, "short\nlog\r\n", 3}, {true, std::string(70000, 'w') + "\r", 64}};
  for (const auto& [exists, log, kb] : rows) {
    for (const std::size_t prefix : {0u, 1u, 2u, 3u}) {
      ArchiveRun run;
      const std::string source = std::string(prefix, 'p') + log;
      testing::WriteFile(run.dir.At("a.log"), source);
      std::filesystem::create_directories(run.archives);
      if (exists) testing::WriteFile(run.Archive("a.log"), old);
      run.Run({"a.log"}, kb);
      const std::string whole = (exists ? old.substr(0, 2950) : "") + CopiedByTheLineRule(source);
      const std::size_t limit = static_cast<std::size_t>(kb) * 1024;
      EXPECT_TRUE(testing::ReadWholeFile(run.Archive("a.log")) == whole.substr(whole.size() - std::min(limit, whole.size())))
          << source.size() << " bytes, /T" << kb << (exists ? " onto an archive" : "");
      EXPECT_EQ(std::ranges::distance(std::filesystem::directory_iterator(run.archives)), 1);
    }
  }
}

// Only a cut needs the ".tmp" name: without a limit such an archive works.
TEST(Cut, ArchiveWithoutRoomForItsCutNameIsRefusedOnlyWithALimit) {
  ArchiveRun run;
  run.archives = testing::DeepPath(run.dir, static_cast<std::size_t>(kMaxPath - 6));
  testing::WriteFile(run.dir.At("a"), "x\n");
  InstallFailureReporting();  // failures raise, rather than end the process
  EXPECT_NO_THROW(run.Run({"a"}, 0));
  EXPECT_EQ(testing::ReadWholeFile(run.archives + testing::kSep + "a"), "x\r\n");
  try {
    run.Run({"a"}, 1);
    ADD_FAILURE() << "a cut with no room for its name went ahead";
  } catch (const EInOutError& error) {
    EXPECT_EQ(error.IoCode(), kErrFilenameTooLong);
  }
  TakeIoStatus();
  EXPECT_EQ(testing::ReadWholeFile(run.archives + testing::kSep + "a"), "x\r\n");
}

}  // namespace
}  // namespace quilbo
