// The decision about a .tmp left by an interrupted cut, on real files, and
// what finishing it does to them.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "archive/archive_log.h"
#include "errors/exceptions.h"
#include "errors/io_status.h"
#include "errors/termination.h"
#include "support/fault_platform.h"

namespace quilbo {
namespace {

namespace fs = std::filesystem;

struct Folder {
  fs::path path;
  Folder() {
    static int counter = 0;
    path = fs::temp_directory_path() /
           ("quilbo-cut-" + std::to_string(++counter) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~Folder() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;
  std::string At(const std::string& name) const { return (path / name).string(); }
};

void Put(const std::string& name, const std::string& bytes) {
  std::ofstream(name, std::ios::binary) << bytes;
}

std::optional<std::string> Get(const std::string& name) {
  if (!fs::exists(name)) return std::nullopt;
  std::ifstream in(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Distinct lines, so that a slice from a wrong place never matches.
std::string Lines(int count) {
  std::string out;
  for (int i = 0; i < count; ++i) out += "line " + std::to_string(i) + " of the archive\r\n";
  return out;
}

// What a cut to limit bytes leaves under the archive's name after copying
// copied of them.
std::string Partial(const std::string& whole, std::size_t limit, std::size_t copied) {
  return whole.substr(whole.size() - limit, copied);
}

TEST(InterruptedCut, Decision) {
  const std::string whole = Lines(400);  // about 11 KB
  // Every byte the same: each start matches on its first kilobyte.
  const std::string flat(8000, 'x');
  const std::string flatThenOther = flat + std::string(1000, 'y');
  // The starts of the 2 KB and the 5 KB cut share their first kilobyte;
  // only the 5 KB cut goes on as the archive does.
  const std::size_t size = 10 * 1024;
  std::string shared(size, '.');
  const std::string head = Lines(60).substr(0, 1024);
  shared.replace(size - 2048, 1024, head);
  shared.replace(size - 2048 + 1024, 476, std::string(476, 'a'));
  shared.replace(size - 5120, 1024, head);
  shared.replace(size - 5120 + 1024, 476, std::string(476, 'b'));
  struct Case {
    const char* what;
    std::optional<std::string> tmp;
    std::optional<std::string> archive;
    std::int32_t runKb;
    CutRecovery expected;
  };
  const Case cases[] = {
      {"no .tmp", std::nullopt, whole, 1, CutRecovery::kNone},
      {"no .tmp, no archive", std::nullopt, std::nullopt, 1, CutRecovery::kNone},
      {"archive missing", whole, std::nullopt, 1, CutRecovery::kRestore},
      {"archive empty", whole, "", 1, CutRecovery::kRestore},
      {"partial copy at this run's limit", whole, Partial(whole, 2048, 700), 2,
       CutRecovery::kRestore},
      {"complete copy at this run's limit", whole, Partial(whole, 2048, 2048), 2,
       CutRecovery::kRestore},
      {"copy at another limit", whole, Partial(whole, 5120, 3000), 2,
       CutRecovery::kRestore},
      {"copy while this run has no limit", whole, Partial(whole, 3072, 1500), 0,
       CutRecovery::kRestore},
      {"copy shorter than a kilobyte, far limit", whole, Partial(whole, 9216, 10), 1,
       CutRecovery::kRestore},
      {"slice starting off a kilobyte boundary", whole,
       whole.substr(whole.size() - 2047, 500), 2, CutRecovery::kConflict},
      {"copy with bytes appended after it", whole,
       Partial(whole, 2048, 2048) + "a later log\r\n", 2, CutRecovery::kConflict},
      {"partial copy with a later log appended", whole,
       Partial(whole, 2048, 900) + "a later log\r\n", 2, CutRecovery::kConflict},
      {"archive as long as the .tmp", whole, whole, 2, CutRecovery::kConflict},
      {"copy whose last byte differs", whole,
       Partial(whole, 2048, 1999) + "#", 2, CutRecovery::kConflict},
      {".tmp placed by hand", "notes kept by hand\r\n", whole, 1,
       CutRecovery::kConflict},
      {".tmp placed by hand, empty", "", "x", 1, CutRecovery::kConflict},
      {"every start matches its first kilobyte, none the rest", flatThenOther,
       std::string(1500, 'x') + "z", 1, CutRecovery::kConflict},
      {"two starts match the first kilobyte, the farther one the rest", shared,
       head + std::string(476, 'b'), 1, CutRecovery::kRestore},
      {"two starts match the first kilobyte, neither the rest", shared,
       head + std::string(476, 'c'), 1, CutRecovery::kConflict},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Folder dir;
    const std::string archive = dir.At("a.log");
    if (c.tmp) Put(archive + ".tmp", *c.tmp);
    if (c.archive) Put(archive, *c.archive);
    IoStatus = 0;
    EXPECT_EQ(InspectInterruptedCut(archive, c.runKb), c.expected);
    EXPECT_EQ(IoStatus, 0);
    // Looking changes nothing.
    EXPECT_EQ(Get(archive + ".tmp"), c.tmp);
    EXPECT_EQ(Get(archive), c.archive);
  }
}

TEST(InterruptedCut, FinishingPutsTheTmpBackOrRefuses) {
  InstallFailureReporting();
  const std::string whole = Lines(200);
  struct Case {
    const char* what;
    std::optional<std::string> archive;
    bool refused;
  };
  const Case cases[] = {
      {"archive missing", std::nullopt, false},
      {"archive empty", "", false},
      {"partial copy", Partial(whole, 1024, 300), false},
      {"archive with bytes of its own", Partial(whole, 1024, 300) + "new\r\n", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Folder dir;
    const std::string archive = dir.At("a.log");
    Put(archive + ".tmp", whole);
    if (c.archive) Put(archive, *c.archive);
    if (c.refused) {
      try {
        FinishInterruptedCut(archive, 1);
        ADD_FAILURE() << "appending went on";
      } catch (const Exception& error) {
        EXPECT_STREQ(error.ClassName(), "Exception");
        // Both files are named.
        EXPECT_NE(std::strstr(error.Message(), "a.log holds bytes that"), nullptr)
            << error.Message();
        EXPECT_NE(std::strstr(error.Message(), "a.log.tmp lacks"), nullptr);
      }
      EXPECT_EQ(Get(archive), c.archive);
      EXPECT_EQ(Get(archive + ".tmp"), whole);
    } else {
      FinishInterruptedCut(archive, 1);
      EXPECT_EQ(Get(archive), whole);
      EXPECT_FALSE(fs::exists(archive + ".tmp"));
    }
  }
}

TEST(InterruptedCut, NothingToFinishTouchesNothing) {
  Folder dir;
  const std::string archive = dir.At("a.log");
  Put(archive, "kept\r\n");
  testing::ScopedFaults faults({});
  FinishInterruptedCut(archive, 1);
  EXPECT_EQ(Get(archive), "kept\r\n");
  // One look for the .tmp; nothing renamed, removed or read.
  EXPECT_EQ(testing::CallsOf(testing::Service::kMoveFile), 0u);
  EXPECT_EQ(testing::CallsOf(testing::Service::kDeleteFile), 0u);
  EXPECT_EQ(testing::CallsOf(testing::Service::kReadFile), 0u);
}

TEST(InterruptedCut, AFailedLookEndsTheRunAndChangesNothing) {
  InstallFailureReporting();
  const std::string whole = Lines(100);
  // The .tmp's open, then the archive's, then a read, then the removal:
  // each fails once, also with no error number at all.
  const testing::Service services[] = {testing::Service::kCreateFile,
                                       testing::Service::kReadFile,
                                       testing::Service::kDeleteFile};
  for (const testing::Service service : services) {
    for (const std::int32_t error : {5, 0}) {
      for (std::uint64_t nth = 1; nth <= 2; ++nth) {
        SCOPED_TRACE(testing::ServiceName(service));
        SCOPED_TRACE(error);
        SCOPED_TRACE(nth);
        Folder dir;
        const std::string archive = dir.At("a.log");
        const std::string partial = Partial(whole, 1024, 512);
        Put(archive + ".tmp", whole);
        Put(archive, partial);
        testing::ScopedFaults faults({0, service, nth, true, error});
        bool raised = false;
        try {
          FinishInterruptedCut(archive, 1);
        } catch (const EInOutError& failure) {
          raised = true;
          EXPECT_EQ(failure.IoCode(), error == 0 ? kErrGeneralFailure : error);
        }
        EXPECT_EQ(IoStatus, 0);
        if (testing::Counts().injected == 0) {
          // No such call was made: the cut was finished.
          EXPECT_FALSE(raised);
          EXPECT_EQ(Get(archive), whole);
          continue;
        }
        EXPECT_TRUE(raised);
        EXPECT_EQ(Get(archive + ".tmp"), whole);
        EXPECT_EQ(Get(archive), partial);
      }
    }
  }
}

}  // namespace
}  // namespace quilbo
