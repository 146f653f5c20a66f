#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "archive/archive_log.h"
#include "fs/run_folders.h"
#include "removal/removal.h"
#include "support/fault_platform.h"
#include "support/fs_fixtures.h"

namespace quilbo {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::WriteFile;

OsHandle OpenLog(OsHandle folder, const std::string& name) {
  return Os().createFileAt(folder, name.c_str(), FileAccess::kRead, FileCreation::kOpenExisting);
}

// One group's deletion, as the run makes it after the flush: each log as
// its copy left it; what nobody holds, unchanged, goes; anything else stays
// with its reason. A link goes, never its target; a leftover (an aside
// name proven by its file) goes at once, and one a writer added to is to
// be finished.
TEST(Removal, GroupDeletesOnlyWhatIsAsCopied) {
  TempDir dir;
  RunFolders run{};
  fs::create_directory(dir.At("Archive"));
  OpenRunFolders(run, dir.path + testing::kSep, dir.At("Archive"));
  struct Case {
    std::string name;
    std::int64_t copied;
    bool held;
    std::int32_t error;
  };
  std::vector<Case> cases = {{"unchanged.log", 6, false, 0},  {"unchecked.log", -1, false, 0},
                             {"grew.log", 3, false, kErrSharingViolation},
                             {"held.log", 6, true, kErrSharingViolation},
                             {"ro.log", 6, false, kErrAccessDenied}};
  FileInfo archives{};
  Os().entryInfoAt(run.archives, ".", false, &archives);
  const FileIdentity folder = archives.identity;
#ifndef _WIN32
  cases.push_back({std::string(250, 'n'), 6, false, 0});  // no room for an aside name
  cases.push_back({"link.log", 6, false, 0});
  cases.push_back({"leftover", 6, false, 0});
  cases.push_back({"grown-leftover", 3, false, kErrSharingViolation});
  cases.push_back({"held-leftover", 6, true, kErrSharingViolation});
  WriteFile(dir.At("target.txt"), "lines\n");
  fs::create_symlink("target.txt", dir.At("link.log"));
#endif
  std::vector<std::ofstream> holders;
  std::vector<PendingRemoval> group;
  for (Case& c : cases) {
    if (c.name != "link.log") WriteFile(dir.At(c.name), "lines\n");
    PendingRemoval log;
    log.file = OpenLog(run.logs, c.name);
    ASSERT_NE(log.file, kInvalidHandle) << c.name;
    FileInfo info{};
    Os().fileInfoOf(log.file, &info);
    log.identity = info.identity;
    if (c.name.find("leftover") != std::string::npos) {
      const std::string aside = AsideName(c.name + ".log", c.copied, log.identity, folder);
      fs::rename(dir.At(c.name), dir.At(aside));
      c.name = aside;
    }
    if (c.held) holders.emplace_back(dir.At(c.name), std::ios::app);
    log.log = c.name;
    log.archive = c.name;
    log.copiedSize = c.copied;
    group.push_back(std::move(log));
  }
  fs::permissions(dir.At("ro.log"), fs::perms::owner_read | fs::perms::group_read);
  GroupWork work{run.archives, run.logs, folder, &group, {}};
  DeleteGroup(work);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    EXPECT_EQ(group[i].error, c.error) << c.name;
    EXPECT_EQ(fs::exists(fs::symlink_status(dir.At(c.name))), c.error != 0) << c.name;
    EXPECT_EQ(group[i].finish, c.name.find("grown-leftover") != std::string::npos) << c.name;
    if (group[i].file != kInvalidHandle) Os().closeHandle(group[i].file);
  }
  // Nothing else is left, under a name of the run's own or any other; a
  // link's target stays.
  std::size_t names = 0;
  for (const auto& entry : fs::directory_iterator(dir.path))
    names += entry.path().filename() != "Archive" && entry.path().filename() != "target.txt";
  EXPECT_EQ(names, static_cast<std::size_t>(std::count_if(cases.begin(), cases.end(),
                                                          [](const Case& c) { return c.error != 0; })));
#ifndef _WIN32
  EXPECT_TRUE(fs::exists(dir.At("target.txt")));
  // The walk never takes the run's own names for logs: a proven leftover,
  // or one of its deletions gone since the listing; a file that merely
  // looks like one, or a link so named, is a log.
  WriteFile(dir.At("look.log"), "x\n");
  fs::create_symlink("target.txt", dir.At(".quilbo-1-1-1-link.log"));
  EXPECT_TRUE(IsLeftover(run, ".quilbo-6-99-1-gone.log"));
  fs::rename(dir.At("look.log"), dir.At(".quilbo-2-1-1-look.log"));
  EXPECT_FALSE(IsLeftover(run, ".quilbo-2-1-1-look.log"));
  EXPECT_FALSE(IsLeftover(run, ".quilbo-1-1-1-link.log"));
  EXPECT_FALSE(IsLeftover(run, "grew.log"));
  EXPECT_TRUE(IsLeftover(run, cases[9].name));  // the held leftover, still there
#endif
  holders.clear();
  CloseRunFolders(run);
}

TEST(Removal, AsideNamesProveTheirForm) {
  const FileIdentity file{1, 0xab12};
  const FileIdentity folder{2, 0x7};
  const std::string name = AsideName("app.log", 4096, file, folder);
  EXPECT_EQ(name, ".quilbo-4096-ab12-7-app.log");
  AsideParts parts;
  ASSERT_TRUE(ParseAsideName(name, &parts));
  EXPECT_EQ(parts.log, "app.log");
  EXPECT_EQ(parts.archived, 4096);
  EXPECT_EQ(parts.file, 0xab12u);
  EXPECT_EQ(parts.archiveFolder, 7u);
  EXPECT_TRUE(ParseAsideName(".quilbo-0-1-2--x", &parts));  // a log may start with '-'
  EXPECT_EQ(parts.log, "-x");
  // The form of an older version, and anything AsideName never writes.
  for (const char* other : {".quilbo-12-x.log", ".quilbo-012-1-2-x", ".quilbo-1-01-2-x", ".quilbo-1-AB-2-x",
                            ".quilbo-1-1-2-", ".quilbo--1-2-x", ".quilbo-1-1-x", "quilbo-1-1-2-x", ".quilbo-x1-1-2-x",
                            ".quilbo-99999999999999999999-1-2-x"})
    EXPECT_FALSE(ParseAsideName(other, &parts)) << other;
  EXPECT_EQ(AsideName(std::string(240, 'n'), 1, file, folder), "");  // longer than a name may be
}

// Groups are bounded by half a second and by the files the run may hold
// open: a run killed outright leaves about a second of logs to archive again.
TEST(Removal, GroupsAreBoundedInTimeAndInOpenFiles) {
  for (const auto& [allowed, step, logs, during, flushes] :
       {std::tuple{100000u, 100u, 12, 2, 2}, {100000u, 100u, 13, 2, 3}, {70u, 1u, 7, 2, 3}}) {
    TempDir dir;
    fs::create_directory(dir.At("Archive"));
    testing::ScopedFaults faults(testing::FaultPlan{});
    static std::uint64_t clock;
    static std::uint32_t files;
    clock = 0;
    files = allowed;
    testing::FaultTable().tickCount = [] { return clock; };
    testing::FaultTable().openFilesAllowed = [] { return files; };
    RunFolders run{};
    OpenRunFolders(run, dir.path + testing::kSep, dir.At("Archive"));
    RemovalGroup group;
    StartRemovals(group, run, 0);
    for (int i = 0; i < logs; ++i) {
      const std::string name = "log" + std::to_string(i);
      WriteFile(dir.At(name), "x\n");
      ArchivedLog done;
      ASSERT_TRUE(ArchiveLogFile(run, name, name, 0, 0, true, &done));
      AddRemoval(group, run, name, name, done);
      clock = static_cast<std::uint64_t>(i + 1) * step;
    }
    EXPECT_EQ(testing::CallsOf(testing::Service::kFlushFilesAt), static_cast<std::uint64_t>(during));
    RemoveLogs(group, run);
    EXPECT_EQ(testing::CallsOf(testing::Service::kFlushFilesAt), static_cast<std::uint64_t>(flushes));
    CloseRunFolders(run);
    std::size_t left = 0;
    for (const auto& entry : fs::directory_iterator(dir.path)) left += entry.path().filename() != "Archive";
    EXPECT_EQ(left, 0u);
  }
}

}  // namespace
}  // namespace quilbo
