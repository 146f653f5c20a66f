#include "errors/termination.h"

#include <cstdio>
#include <cstring>

#include "errors/io_status.h"
#include "errors/notes.h"
#include "platform/platform.h"

namespace quilbo {

ExitRoutine ExitStep = nullptr;

namespace {

bool gInstalled = false;
bool gReporting = false;

// The file name after the last folder separator.
const char* BaseName(const char* path) {
  const char* name = path;
  for (const char* p = path; *p != '\0'; ++p)
    if (*p == '\\' || *p == '/') name = p + 1;
  return name;
}

void WriteAll(StdStream stream, const char* text, std::uint32_t length) {
  std::uint32_t done = 0;
  Os().writeFile(Os().stdHandle(stream), text, length, &done);
}

void RunExitSteps() {
  while (ExitStep != nullptr) {
    const ExitRoutine routine = ExitStep;
    ExitStep = nullptr;
    TakeIoStatus();
    routine();
  }
}

[[noreturn]] void EndProcess(std::int32_t code, const void* location) {
  RunExitSteps();
  if (location != nullptr) {
    char line[96];
    const int n = std::snprintf(
        line, sizeof line, "Runtime error %d at %08X TID=1.\r\n",
        static_cast<int>(code),
        static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(location)));
    WriteAll(StdStream::kError, line, static_cast<std::uint32_t>(n));
  }
  Os().exitProcess(static_cast<std::uint32_t>(code));
  __builtin_trap();  // exitProcess does not return; a wrapped one must not
}

}  // namespace

EOutOfMemory& ReservedOutOfMemory() {
  static EOutOfMemory reserved(FailureSite{nullptr, nullptr, 0});
  return reserved;
}

void InstallFailureReporting() {
  ReservedOutOfMemory();
  gInstalled = true;
}

bool FailureReportingInstalled() { return gInstalled; }

std::uint32_t FormatReport(const Exception& exception, const FailureSite& site,
                           char* out, std::uint32_t size) {
  char path[kMaxPath] = "";
  std::uintptr_t base = 0;
  if (site.address == nullptr ||
      !Os().moduleOfAddress(site.address, path, sizeof path, &base)) {
    // No known module holds the address: the report still names the
    // program that failed, with the address as it is.
    if (Os().executablePath(path, sizeof path) == 0) path[0] = '\0';
    base = 0;
  }
  const auto offset = static_cast<unsigned>(
      reinterpret_cast<std::uintptr_t>(site.address) - base);
  char position[320] = "";
  if (site.file != nullptr && site.file[0] != '\0')
    std::snprintf(position, sizeof position, "File: %s Line#: %u\n",
                  BaseName(site.file), static_cast<unsigned>(site.line));
  const char* message = exception.Message();
  const std::size_t length = std::strlen(message);
  const char* suffix = length != 0 && message[length - 1] != '.' ? "." : "";
  char text[1024];
  const int n = std::snprintf(text, sizeof text,
                              "Exception %s in module %s at %08X.\n%s%s%s",
                              exception.ClassName(), BaseName(path), offset,
                              position, message, suffix);
  const std::uint32_t used =
      n < 0 ? 0
            : (static_cast<std::uint32_t>(n) < sizeof text
                   ? static_cast<std::uint32_t>(n)
                   : static_cast<std::uint32_t>(sizeof text - 1));
  std::uint32_t written = 0;
  for (std::uint32_t i = 0; i < used && written + 2 < size; ++i) {
    if (text[i] == '\n') out[written++] = '\r';
    out[written++] = text[i];
  }
  return written;
}

void ReportUnhandled(const Exception& exception, const FailureSite& site) {
  if (!gReporting) {
    gReporting = true;
    // Before the report, which ends without a line end: on a terminal the
    // note then stands on a line of its own.
    WriteFailureNote(exception);
    char report[2048];
    const std::uint32_t n = FormatReport(exception, site, report, sizeof report);
    WriteAll(StdStream::kOutput, report, n);
    gReporting = false;
  }
  ExitProgram(1);
}

void ExitProgram(std::int32_t code) { EndProcess(code, nullptr); }

void ExitStopped(std::int32_t stop) {
  RunExitSteps();
  Os().endStopped(stop);
  Os().exitProcess(1);  // a platform whose stop did not end the process
  __builtin_unreachable();
}

void ExitProgramAt(std::int32_t code, const void* location) {
  EndProcess(code, location);
}

}  // namespace quilbo
