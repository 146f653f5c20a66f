// The pending failure code, the report messages, the failure report's exact
// bytes, and (where the process can be watched from outside) its end.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>

#include "errors/exceptions.h"
#include "errors/io_status.h"
#include "errors/notes.h"
#include "errors/termination.h"
#include "platform/platform.h"
#include "support/fault_platform.h"

namespace quilbo {
namespace {

// ---- Pending codes --------------------------------------------------------

TEST(IoStatusRules, TakeGivesTheLastFailureAndClears) {
  struct Case {
    const char* what;
    std::int32_t stored[3];  // 0: a succeeding operation (stores nothing)
    std::int32_t taken;
  };
  const Case cases[] = {
      {"nothing failed", {0, 0, 0}, 0},
      {"failure, then success", {5, 0, 0}, 5},
      {"two failures", {2, 112, 0}, 112},
      {"failure, success, failure, ", {183, 0, 32}, 32},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    IoStatus = 0;
    for (std::int32_t code : c.stored) StoreIoFailure(code);
    EXPECT_EQ(TakeIoStatus(), c.taken);
    EXPECT_EQ(IoStatus, 0);
    EXPECT_EQ(TakeIoStatus(), 0);
  }
}

TEST(IoStatusRules, StoringZeroLeavesThePendingCode) {
  IoStatus = 0;
  StoreIoFailure(4);
  StoreIoFailure(0);
  EXPECT_EQ(IoStatus, 4);
  IoStatus = 0;
}

// ---- Messages ---------------------------------------------------------

TEST(IoMessages, Table) {
  struct Row {
    std::int32_t code;
    const char* message;
  };
  const Row rows[] = {
      {2, "File not found"},
      {3, "Invalid filename"},
      {4, "Too many open files"},
      {5, "File access denied"},
      {100, "Read beyond end of file"},
      {101, "Disk full"},
      {102, "I/O error 102"},
      {105, "I/O error 105"},
      {106, "Invalid numeric input"},
      {112, "I/O error 112"},
      {183, "I/O error 183"},
      {258, "I/O error 258"},  // the whole code counts: not "File not found"
      {-1, "I/O error -1"},
      {0x20000002, "I/O error 536870914"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.code);
    char text[64];
    IoMessage(row.code, text, sizeof text);
    EXPECT_STREQ(text, row.message);
    const EInOutError error(row.code, FailureSite{nullptr, nullptr, 0});
    EXPECT_STREQ(error.Message(), row.message);
    EXPECT_EQ(error.IoCode(), row.code);
  }
}

// ---- The failure report -------------------------------------------------

// The test program's own file name, as the report names the module.
#ifdef _WIN32
constexpr const char* kModule = "errors_tests.exe";
#else
constexpr const char* kModule = "errors_tests";
#endif

[[gnu::noinline]] const void* CodeAddressHere() {
  return __builtin_return_address(0);
}

std::string Format(const Exception& exception, const FailureSite& site) {
  char out[2048];
  const std::uint32_t n = FormatReport(exception, site, out, sizeof out);
  return std::string(out, n);
}

// The report with its 8 hex digits replaced by "XXXXXXXX"; the digits
// themselves go to offset.
std::string Masked(std::string report, std::uint32_t* offset) {
  static const std::regex kHeader(" at ([0-9A-F]{8})\\.\r\n");
  std::smatch match;
  EXPECT_TRUE(std::regex_search(report, match, kHeader)) << report;
  if (match.empty()) return report;
  *offset = static_cast<std::uint32_t>(std::strtoul(match[1].str().c_str(), nullptr, 16));
  report.replace(static_cast<std::size_t>(match.position(1)), 8, "XXXXXXXX");
  return report;
}

TEST(FailureReport, ExactBytes) {
  const void* address = CodeAddressHere();
  const std::string head =
      std::string("in module ") + kModule + " at XXXXXXXX.\r\n";
  const EInOutError notFound(2, {});
  const EInOutError badName(3, {});
  const EInOutError diskFull(112, {});
  const Exception refused("Refused.", {});
  const Exception empty("", {});
  const EOutOfMemory noMemory(FailureSite{});
  struct Case {
    const char* what;
    const Exception* exception;
    const char* file;
    std::uint32_t line;
    std::string expected;
  };
  const Case cases[] = {
      {"I/O error with a source position", &notFound,
       "src/archive/archive_log.cpp", 42,
       "Exception EInOutError " + head +
           "File: archive_log.cpp Line#: 42\r\nFile not found."},
      {"Windows folder separators in the source name", &badName,
       "C:\\build\\src\\fs\\x.cpp", 7,
       "Exception EInOutError " + head + "File: x.cpp Line#: 7\r\nInvalid filename."},
      {"without a source position", &diskFull, nullptr, 0,
       "Exception EInOutError " + head + "I/O error 112."},
      {"message already ending in a full stop", &refused, nullptr, 0,
       "Exception Exception " + head + "Refused."},
      {"empty message: no full stop", &empty, nullptr, 0,
       "Exception Exception " + head},
      {"out of memory", &noMemory, "io_status.cpp", 3,
       "Exception EOutOfMemory " + head +
           "File: io_status.cpp Line#: 3\r\nOut of memory."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::uint32_t offset = 0;
    const std::string report =
        Format(*c.exception, FailureSite{address, c.file, c.line});
    EXPECT_EQ(Masked(report, &offset), c.expected);
  }
}

TEST(FailureReport, OffsetIsFromTheModuleStart) {
  // The offset lies within the executable's image, so it is an offset and
  // not the absolute address; two places in the code differ by as much in
  // their offsets as in their addresses.
  char path[kMaxPath];
  ASSERT_GT(NativePlatform().executablePath(path, sizeof path), 0u);
  const auto imageSize = std::filesystem::file_size(path);
  const void* address = CodeAddressHere();
  const auto* later = static_cast<const char*>(address) + 16;
  std::uint32_t first = 0;
  std::uint32_t second = 0;
  Masked(Format(EInOutError(2, {}), FailureSite{address, nullptr, 0}), &first);
  Masked(Format(EInOutError(2, {}), FailureSite{later, nullptr, 0}), &second);
  EXPECT_GT(first, 0u);
  EXPECT_LT(first, imageSize);
  EXPECT_EQ(second - first, 16u);
}

TEST(FailureReport, NeverWritesPastTheBuffer) {
  char out[40];
  std::memset(out, '#', sizeof out);
  const std::uint32_t n = FormatReport(EInOutError(2, {}),
                                       FailureSite{CodeAddressHere(), "a.cpp", 1},
                                       out, 20);
  EXPECT_LE(n, 20u);
  for (std::size_t i = 20; i < sizeof out; ++i) EXPECT_EQ(out[i], '#');
}

TEST(FailureReport, UnknownModuleNamesTheProgram) {
  testing::ScopedFaults faults({});
  testing::FaultTable().moduleOfAddress = [](const void*, char*, std::uint32_t,
                                             std::uintptr_t*) { return false; };
  const void* address = CodeAddressHere();
  std::uint32_t offset = 0;
  EXPECT_EQ(Masked(Format(EInOutError(2, {}), FailureSite{address, nullptr, 0}), &offset),
            std::string("Exception EInOutError in module ") + kModule +
                " at XXXXXXXX.\r\nFile not found.");
  EXPECT_EQ(offset, static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(address)));
}

// ---- Raising ------------------------------------------------------------

TEST(Raising, CheckIoTurnsThePendingCodeIntoEInOutError) {
  InstallFailureReporting();
  IoStatus = 0;
  CheckIo();  // nothing pending: no effect
  IoStatus = 32;
  std::uint32_t line = 0;
  try {
    line = __LINE__ + 1;
    CheckIo();
    FAIL() << "CheckIo returned with a pending code";
  } catch (const EInOutError& error) {
    EXPECT_EQ(error.IoCode(), 32);
    EXPECT_STREQ(error.Message(), "I/O error 32");
    EXPECT_STREQ(error.ClassName(), "EInOutError");
    EXPECT_EQ(error.Site().line, line);
    EXPECT_NE(std::strstr(error.Site().file, "errors_test.cpp"), nullptr);
    EXPECT_NE(error.Site().address, nullptr);
  }
  EXPECT_EQ(IoStatus, 0);
}

TEST(Raising, ExhaustedMemoryRaisesTheReservedException) {
  InstallFailureReporting();
  testing::ScopedFaults faults({0, testing::Service::kAllocate, 1, false, 8});
  try {
    GetMemory(16384);
    FAIL() << "GetMemory returned without memory";
  } catch (const EOutOfMemory& error) {
    EXPECT_STREQ(error.ClassName(), "EOutOfMemory");
    EXPECT_STREQ(error.Message(), "Out of memory");
    EXPECT_NE(error.Site().address, nullptr);
  }
}

// ---- The end of the process (watched from a child process) ---------------

#if GTEST_HAS_DEATH_TEST && !defined(_WIN32)

void SayClosing() {
  const char text[] = "closing";
  std::uint32_t done = 0;
  Os().writeFile(Os().stdHandle(StdStream::kError), text, sizeof text - 1, &done);
}

void ChainAnotherStep() {
  ExitStep = SayClosing;
  IoStatus = 5;  // cleared before the next step runs
}

TEST(ProcessEndDeathTest, ExitRunsTheExitStepsThenEnds) {
  EXPECT_EXIT(
      {
        ExitStep = SayClosing;
        ExitProgram(5);
      },
      ::testing::ExitedWithCode(5), "^closing$");
  EXPECT_EXIT(
      {
        ExitStep = ChainAnotherStep;
        ExitProgram(0);
      },
      ::testing::ExitedWithCode(0), "^closing$");
}

OsHandle StandardErrorForAll(StdStream) {
  return NativePlatform().stdHandle(StdStream::kError);
}

void ReportPending() {
  testing::InstallFaults({});
  testing::FaultTable().stdHandle = StandardErrorForAll;
  ExitStep = SayClosing;
  const std::int32_t code = IoStatus;
  ReportUnhandled(EInOutError(code, {}),
                  FailureSite{CodeAddressHere(), nullptr, 0});
}

TEST(ProcessEndDeathTest, NoteThenReportThenExitCode1) {
  // The report goes to standard output, which a death test cannot watch:
  // the child hands it standard error instead, where the note comes first.
  const char* report =
      "\r?\nException EInOutError in module errors_tests at [0-9A-F]{8}\\.\r\n"
      "Invalid filename\\.closing$";
  // The failure names its file, which lies in the folder that could not be
  // made; the system's words come from the platform.
  EXPECT_EXIT(
      {
        NoteFolderNotMade("logs/backup", kErrAccessDenied);
        NoteFolderNotMade("other", kErrAlreadyExists);  // exists: nothing to say
        StoreIoFailureOn(kErrPathNotFound, "create", "logs/backup/a.log");
        ReportPending();
      },
      ::testing::ExitedWithCode(1),
      std::string("^[Qq]uilbo: cannot create logs/backup/a\\.log: [^\r\n]+ "
                  "\\(the folder logs/backup could not be made: [^\r\n]+\\)") +
          report);
  // A later failure that named no file: the report's message and the reason.
  EXPECT_EXIT(
      {
        StoreIoFailureOn(kErrPathNotFound, "create", "logs/a.log");
        StoreIoFailure(kErrPathNotFound);
        ReportPending();
      },
      ::testing::ExitedWithCode(1),
      std::string("^[Qq]uilbo: Invalid filename: [^\r\n]+") + report);
}

TEST(ProcessEndDeathTest, FallbackLineBeforeStartUpCompleted) {
  EXPECT_EXIT(ExitProgramAt(203, CodeAddressHere()), ::testing::ExitedWithCode(203),
              "^Runtime error 203 at [0-9A-F]{8} TID=1\\.\r\n$");
}

#endif

}  // namespace
}  // namespace quilbo
