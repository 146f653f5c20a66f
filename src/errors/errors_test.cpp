// The pending failure code, the report's messages and exact bytes, and
// (where the process can be watched from outside) every end of a run.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <tuple>

#include "errors/exceptions.h"
#include "errors/io_status.h"
#include "errors/notes.h"
#include "errors/termination.h"
#include "support/fault_platform.h"

namespace quilbo {
namespace {

// The last failure stored is the one taken (a success stores nothing), and
// each code has its report message.
TEST(IoStatusRules, PendingCodesAndTheirMessages) {
  for (const auto& row : {std::vector<std::int32_t>{0, 0, 0}, {5, 0, 5}, {2, 112, 112}, {183, 0, 32, 32}}) {
    for (std::size_t i = 0; i + 1 < row.size(); ++i) StoreIoFailure(row[i]);
    EXPECT_EQ(TakeIoStatus(), row.back());
    EXPECT_EQ(IoStatus, 0);
  }
  const std::pair<std::int32_t, const char*> rows[] = {
      {4, "Too many open files"}, {100, "Read beyond end of file"}, {102, "I/O error 102"},
      {106, "Invalid numeric input"}, {258, "I/O error 258"}, {-1, "I/O error -1"}};
  for (const auto& [code, message] : rows) EXPECT_STREQ(EInOutError(code, {}).Message(), message);
}

// The note goes with its failure: the failure raised carries the note made
// for it, never one of an earlier failure, and keeps it whatever is stored
// after it.
TEST(IoStatusRules, TheRaisedFailureCarriesItsOwnNote) {
  InstallFailureReporting();
  const struct {
    void (*store)();
    std::int32_t code;
    const char* note;
  } rows[] = {
      {[] { StoreIoFailureOn(2, "open", "a.log"); }, 2, "cannot open a\\.log: .+"},
      {[] { StoreIoFailureOn(2, "open", "a.log"); StoreIoFailure(5); }, 5, "File access denied: .+"},
      {[] { StoreIoFailure(5); StoreIoFailureOn(3, "move", "a.log", "b.log"); }, 3,
       "cannot move a\\.log to b\\.log: .+"},
      {[] { StoreIoFailureOn(2, "open", "a.log"); TakeIoStatus(); StoreIoFailure(102); }, 102,
       "I/O error 102: I/O error 102"},
      {[] { StoreIoFailureOn(2, "open", "a.log"); StoreIoFailureOn(0, "open", "b.log"); }, 2,
       "cannot open a\\.log: .+"},
      // A folder the run could not make is why its entries fail; one that
      // was there already is not.
      {[] { StoreIoFailureInFolder({3, 0}, "create", "bk/a.log", "bk", {5, 0}); }, 3,
       "cannot create bk/a\\.log: [^(]+ \\(the folder bk could not be made: .+\\)"},
      {[] { StoreIoFailureInFolder({3, 0}, "create", "bk/a.log", "bk", {kErrAlreadyExists, 0}); },
       3, "cannot create bk/a\\.log: [^(]+"},
  };
  for (const auto& row : rows) {
    row.store();
    try {
      CheckIo();
      ADD_FAILURE() << row.note;
    } catch (const EInOutError& failure) {
      EXPECT_EQ(IoStatus, 0);
      StoreIoFailureOn(4, "close", "c.log");
      EXPECT_EQ(failure.IoCode(), row.code);
      EXPECT_TRUE(std::regex_match(failure.Note(), std::regex(row.note))) << failure.Note();
    }
    TakeIoStatus();
  }
  // A failure taken is gone, its note with it.
  StoreIoFailureOn(2, "open", "a.log");
  TakeIoStatus();
  EXPECT_NO_THROW(CheckIo());
}

[[gnu::noinline]] const void* CodeAddressHere() { return __builtin_return_address(0); }

// The report with its offset masked; the offset itself goes to offset.
std::string Report(const Exception& exception, const FailureSite& site, std::uint32_t* offset) {
  char out[2048];
  std::string report(out, FormatReport(exception, site, out, sizeof out));
  std::smatch match;
  if (!std::regex_search(report, match, std::regex(" at ([0-9A-F]{8})\\.\r\n"))) return report;
  *offset = static_cast<std::uint32_t>(std::strtoul(match[1].str().c_str(), nullptr, 16));
  return report.replace(static_cast<std::size_t>(match.position(1)), 8, "XXXXXXXX");
}

TEST(FailureReport, ExactBytesAndTheOffsetInTheModuleOrTheProgram) {
  const void* address = CodeAddressHere();
  char path[kMaxPath];
  ASSERT_GT(NativePlatform().executablePath(path, sizeof path), 0u);
  const std::string head = " in module " + std::filesystem::path(path).filename().string() + " at XXXXXXXX.\r\n";
  const EInOutError notFound(2, {}), badName(3, {}), diskFull(112, {});
  const Exception refused("Refused.", {}), empty("", {});
  const EOutOfMemory noMemory(FailureSite{});
  const std::tuple<const Exception*, const char*, std::string> rows[] = {
      {&notFound, "src/archive/archive_log.cpp",
       "EInOutError" + head + "File: archive_log.cpp Line#: 7\r\nFile not found."},
      {&badName, "C:\\build\\src\\fs\\x.cpp", "EInOutError" + head + "File: x.cpp Line#: 7\r\nInvalid filename."},
      {&diskFull, nullptr, "EInOutError" + head + "I/O error 112."},
      {&refused, nullptr, "Exception" + head + "Refused."},
      {&empty, nullptr, "Exception" + head},
      {&noMemory, "", "EOutOfMemory" + head + "Out of memory."}};
  std::uint32_t first = 0, second = 0;
  for (const auto& [exception, file, expected] : rows)
    EXPECT_EQ(Report(*exception, {address, file, 7}, &first), "Exception " + expected);
  // An offset within the image, not the address: two places differ by as
  // much in their offsets as in their addresses.
  Report(notFound, {address, nullptr, 0}, &first);
  Report(notFound, {static_cast<const char*>(address) + 16, nullptr, 0}, &second);
  EXPECT_GT(first, 0u);
  EXPECT_LT(first, std::filesystem::file_size(path));
  EXPECT_EQ(second - first, 16u);
  // Without a known module (a static build's image), the report still names
  // the program, not an empty module, and gives the raw address.
  testing::ScopedFaults faults({});
  testing::FaultTable().moduleOfAddress = [](const void*, char*, std::uint32_t, std::uintptr_t*) { return false; };
  EXPECT_EQ(Report(notFound, {address, nullptr, 0}, &first), "Exception EInOutError" + head + "File not found.");
  EXPECT_EQ(first, static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(address)));
}

#if GTEST_HAS_DEATH_TEST && !defined(_WIN32)

void SayClosing() {
  std::uint32_t done = 0;
  Os().writeFile(Os().stdHandle(StdStream::kError), "closing", 7, &done);
}

void ChainAnotherStep() {
  ExitStep = SayClosing;
  IoStatus = 5;  // cleared before the next step
}
OsHandle StandardError(StdStream) { return NativePlatform().stdHandle(StdStream::kError); }

// The report goes to standard output, which a death test cannot watch: the
// child hands it standard error instead, where the note comes first.
void ReportPending() {
  testing::InstallFaults({});
  testing::FaultTable().stdHandle = StandardError;
  ExitStep = SayClosing;
  InstallFailureReporting();
  try {
    CheckIo();
  } catch (const Exception& failure) {
    ReportUnhandled(failure, FailureSite{CodeAddressHere(), nullptr, 0});
  }
}

// A step set by a step runs too. The note made with the failure comes
// first, then the report.
TEST(ProcessEndDeathTest, ExitStepsNotesAndReport) {
  EXPECT_EXIT({ ExitStep = ChainAnotherStep; ExitProgram(5); }, ::testing::ExitedWithCode(5), "^closing$");
  EXPECT_EXIT({ StoreIoFailureOn(3, "create", "a.log"); ReportPending(); },
              ::testing::ExitedWithCode(1),
              "^quilbo: cannot create a\\.log: [^\r\n]+\r?\nException EInOutError in module errors_tests at "
              "[0-9A-F]{8}\\.\r\nInvalid filename\\.closing$");
}

#endif

}  // namespace
}  // namespace quilbo
