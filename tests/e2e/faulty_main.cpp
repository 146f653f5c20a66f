// The program with a fault plan, for the end-to-end failure tests:
//
//   quilbo_faulty <failCall> <service|-> <fromNth> <once:0|1> <error> -- args...
//
// installs the plan (see tests/support/fault_platform.h; a service is named
// as ServiceName gives it, "-" for none), then runs the program exactly as
// src/driver/main.cpp does, the program seeing only the arguments after
// "--". Before the process ends it writes one line to standard error:
//
//   faults: calls=<failable calls made> injected=<failures injected>
//           flushes=<n,n...> changes=<n,n...>       (on one line)
//
// so a sweep can learn how many calls a run makes (which flushed, which
// may have changed files) and
// fail each in turn. QUILBO_FAULTY_CRASH_BEFORE=<n> ends the process just
// before call n, as a kill would; QUILBO_FAULTY_POWER_LOSS_AFTER=<n> just
// after it, every file losing its writes since its last flush (exit code
// 75 for both, and no "faults:" line).
// With QUILBO_FAULTY_EMPTY_COMMAND_LINE=1 in the environment the program is
// handed a command line without any token, not even its own name.
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

#include "driver/program.h"
#include "platform/platform.h"
#include "support/fault_platform.h"

namespace {

using quilbo::testing::Service;

constexpr int kPlanArguments = 5;

[[noreturn]] void Usage(const char* why) {
  std::fprintf(stderr,
               "quilbo_faulty: %s\n"
               "usage: quilbo_faulty <failCall> <service|-> <fromNth> "
               "<once:0|1> <error> -- <program args...>\n",
               why);
  std::fflush(stderr);
  quilbo::NativePlatform().exitProcess(2);
  __builtin_trap();
}

template <typename T>
T ParseNumber(const char* text, const char* what) {
  T value{};
  const char* end = text + std::strlen(text);
  const auto [next, error] = std::from_chars(text, end, value);
  if (error != std::errc{} || next != end || text == end) Usage(what);
  return value;
}

Service ParseService(const char* name) {
  if (std::strcmp(name, "-") == 0) return Service::kCount;
  for (int i = 0; i < static_cast<int>(Service::kCount); ++i) {
    const auto service = static_cast<Service>(i);
    if (std::strcmp(name, quilbo::testing::ServiceName(service)) == 0)
      return service;
  }
  Usage("unknown service name");
}

// ---- What the program sees as its arguments --------------------------

std::vector<const char*> gArguments;  // argv[0], then the args after "--"

bool SplitArguments(int* count, const char* const** arguments) {
  *count = static_cast<int>(gArguments.size());
  *arguments = gArguments.data();
  return true;
}

// The command line the platform hands over, cut the program's own way
// (separators are bytes 1 to 32, a double quote opens or closes a quoted
// section): the program-name token, then everything after "--".
std::string gCommandLine;

bool IsSeparator(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte >= 1 && byte <= 32;
}

// Scans one token from p; gives its text and where it started and ended.
const char* ScanToken(const char* p, const char** start, std::string* text) {
  text->clear();
  for (;;) {
    while (IsSeparator(*p)) ++p;
    if (p[0] == '"' && p[1] == '"') {
      p += 2;
      continue;
    }
    break;
  }
  *start = p;
  while (*p != '\0' && !IsSeparator(*p)) {
    if (*p == '"') {
      ++p;
      while (*p != '\0' && *p != '"') *text += *p++;
      if (*p == '"') ++p;
    } else {
      *text += *p++;
    }
  }
  return p;
}

void BuildCommandLine(const char* native) {
  if (native == nullptr) Usage("the platform gave no command line");
  std::string token;
  const char* start = nullptr;
  const char* p = ScanToken(native, &start, &token);
  gCommandLine.assign(start, static_cast<std::size_t>(p - start));
  for (;;) {
    p = ScanToken(p, &start, &token);
    if (token.empty() && *start == '\0') Usage("no \"--\" on the command line");
    if (token == "--") break;
  }
  gCommandLine += p;  // the separator after "--" and the program's arguments
}

const char* CommandLine() { return gCommandLine.c_str(); }

// ---- The end of the process -------------------------------------------

void ExitProcess(std::uint32_t code) {
  const quilbo::testing::FaultCounts& counts = quilbo::testing::Counts();
  const std::string line = "faults: calls=" + std::to_string(counts.total) +
                           " injected=" + std::to_string(counts.injected) +
                           " flushes=" + quilbo::testing::FlushCallList() +
                           " changes=" + quilbo::testing::ChangeCallList() + "\n";
  const quilbo::PlatformApi& native = quilbo::NativePlatform();
  std::uint32_t done = 0;
  native.writeFile(native.stdHandle(quilbo::StdStream::kError), line.data(),
                   static_cast<std::uint32_t>(line.size()), &done);
  native.exitProcess(code);
}

}  // namespace

int main(int argc, char** argv) {
  quilbo::InitPlatform(argc, argv);
  if (argc < kPlanArguments + 2 || std::strcmp(argv[kPlanArguments + 1], "--") != 0)
    Usage("expected the five plan arguments, then \"--\"");

  quilbo::testing::FaultPlan plan;
  plan.failCall = ParseNumber<std::uint64_t>(argv[1], "bad failCall");
  plan.failService = ParseService(argv[2]);
  plan.fromNth = ParseNumber<std::uint64_t>(argv[3], "bad fromNth");
  const int once = ParseNumber<int>(argv[4], "bad once flag");
  if (once != 0 && once != 1) Usage("once must be 0 or 1");
  plan.failOnce = once == 1;
  plan.error = ParseNumber<std::int32_t>(argv[5], "bad error number");
  if (const char* crash = std::getenv("QUILBO_FAULTY_CRASH_BEFORE"))
    plan.crashBefore = ParseNumber<std::uint64_t>(crash, "bad crash call");
  if (const char* loss = std::getenv("QUILBO_FAULTY_POWER_LOSS_AFTER"))
    plan.powerLossAfter = ParseNumber<std::uint64_t>(loss, "bad power-loss call");

  const quilbo::PlatformApi& native = quilbo::NativePlatform();
  quilbo::testing::InstallFaults(plan);
  quilbo::PlatformApi& table = quilbo::testing::FaultTable();
  const char* empty = std::getenv("QUILBO_FAULTY_EMPTY_COMMAND_LINE");
  const bool noTokens = empty != nullptr && std::strcmp(empty, "1") == 0;
  if (native.commandLine() != nullptr) {
    if (!noTokens) BuildCommandLine(native.commandLine());
    table.commandLine = CommandLine;
  } else {
    if (!noTokens) {
      gArguments.push_back(argv[0]);
      for (int i = kPlanArguments + 2; i < argc; ++i)
        gArguments.push_back(argv[i]);
    }
    table.splitArguments = SplitArguments;
  }
  table.exitProcess = ExitProcess;

  quilbo::RunProgram(quilbo::RunDriver);
}
