// The program with a fault plan, for the end-to-end failure and crash cases:
//
//   quilbo_faulty <failCall> <service|-> <fromNth> <once:0|1> <error> -- args...
//
// installs the plan (tests/support/fault_platform.h; "-" names no service),
// then runs the program as src/driver/main.cpp does, with the arguments
// after "--". At its end it writes to standard error
//   faults: calls=<n> injected=<n> flushes=<n,n...> changes=<n,n...>
// Environment: QUILBO_FAULTY_CRASH_BEFORE=<n> ends the process just before
// call n, as a kill would; QUILBO_FAULTY_POWER_LOSS_AFTER=<n> just after it,
// every file losing its writes since its last flush (exit code 75 for both,
// no "faults:" line). QUILBO_FAULTY_STOP_IN_REMOVAL=<d>,<a> ends the process
// (75) inside the first group deletion, once its first d logs are deleted
// and the next a moved aside, as a kill between two logs would.
// QUILBO_FAULTY_BEFORE_REPORTING=memory|<n> fails before the failure report
// is installed: an allocation (under the plan), or a pending I/O code n.
// QUILBO_FAULTY_EMPTY_COMMAND_LINE=1 hands the program no token at all.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "driver/program.h"
#include "errors/io_status.h"
#include "platform/aside_name.h"
#include "platform/platform.h"
#include "support/fault_platform.h"

namespace {

namespace qt = quilbo::testing;

[[noreturn]] void Usage(const char* why) {
  std::fprintf(stderr, "quilbo_faulty: %s\nusage: quilbo_faulty <failCall> <service|-> "
               "<fromNth> <once:0|1> <error> -- <program args...>\n", why);
  std::fflush(stderr);
  quilbo::NativePlatform().exitProcess(2);
  __builtin_trap();
}

std::uint64_t Number(const char* text) {
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (*text == '\0' || *end != '\0') Usage("a plan number is not a number");
  return value;
}

qt::Service ServiceNamed(const char* name) {
  for (int i = 0; i < static_cast<int>(qt::Service::kCount); ++i)
    if (std::strcmp(name, qt::ServiceName(static_cast<qt::Service>(i))) == 0)
      return static_cast<qt::Service>(i);
  if (std::strcmp(name, "-") != 0) Usage("unknown service name");
  return qt::Service::kCount;
}

std::vector<const char*> gArguments;  // argv[0], then the args after "--"
std::string gCommandLine;             // the platform's line without the plan

bool SplitArguments(int* count, const char* const** arguments) {
  *count = static_cast<int>(gArguments.size());
  *arguments = gArguments.data();
  return true;
}

const char* CommandLine() { return gCommandLine.c_str(); }

// The platform's command line with the plan left out: its first token (the
// program's name), then everything after the token "--", cut the way the
// program cuts tokens (bytes 1 to 32 separate, quotes group).
void DropPlan(const char* line) {
  const auto separator = [](char c) { return c >= 1 && c <= 32; };
  const char* p = line;
  for (bool first = true;; first = false) {
    while (separator(*p)) ++p;
    const char* start = p;
    for (bool quoted = false; *p != '\0' && (quoted || !separator(*p)); ++p)
      if (*p == '"') quoted = !quoted;
    if (first) gCommandLine.assign(start, p);
    if (p - start == 2 && std::strncmp(start, "--", 2) == 0) break;
    if (*p == '\0') Usage("no \"--\" on the command line");
  }
  gCommandLine += p;
}

std::uint64_t gStopDeleted = 0, gStopAside = 0;
bool (*gRemoveLogsAt)(quilbo::OsHandle, quilbo::LogRemoval*, std::size_t) = nullptr;

bool StopInRemoval(quilbo::OsHandle folder, quilbo::LogRemoval* logs, std::size_t count) {
  const quilbo::PlatformApi& native = quilbo::NativePlatform();
  const std::size_t deleted = gStopDeleted < count ? gStopDeleted : count;
  gRemoveLogsAt(folder, logs, deleted);
  for (std::size_t i = deleted; i < count && i < deleted + gStopAside; ++i)
    if (logs[i].copiedSize >= 0)
      native.moveFileOverAt(folder, logs[i].name,
                            quilbo::AsideName(logs[i].name, logs[i].copiedSize).c_str(), false);
  native.exitProcess(qt::kCrashExitCode);
  __builtin_trap();
}

void ExitProcess(std::uint32_t code) {
  const qt::FaultCounts& counts = qt::Counts();
  const std::string line = "faults: calls=" + std::to_string(counts.total) +
                           " injected=" + std::to_string(counts.injected) +
                           " flushes=" + qt::FlushCallList() +
                           " changes=" + qt::ChangeCallList() + "\n";
  const quilbo::PlatformApi& native = quilbo::NativePlatform();
  std::uint32_t done = 0;
  native.writeFile(native.stdHandle(quilbo::StdStream::kError), line.data(),
                   static_cast<std::uint32_t>(line.size()), &done);
  native.exitProcess(code);
}

}  // namespace

int main(int argc, char** argv) {
  quilbo::InitPlatform(argc, argv);
  if (argc < 7 || std::strcmp(argv[6], "--") != 0)
    Usage("expected the five plan arguments, then \"--\"");
  qt::FaultPlan plan;
  plan.failCall = Number(argv[1]);
  plan.failService = ServiceNamed(argv[2]);
  plan.fromNth = Number(argv[3]);
  plan.failOnce = Number(argv[4]) == 1;
  plan.error = static_cast<std::int32_t>(Number(argv[5]));
  if (const char* crash = std::getenv("QUILBO_FAULTY_CRASH_BEFORE")) plan.crashBefore = Number(crash);
  if (const char* loss = std::getenv("QUILBO_FAULTY_POWER_LOSS_AFTER"))
    plan.powerLossAfter = Number(loss);
  qt::InstallFaults(plan);
  quilbo::PlatformApi& table = qt::FaultTable();
  if (const char* stop = std::getenv("QUILBO_FAULTY_STOP_IN_REMOVAL")) {
    if (std::sscanf(stop, "%llu,%llu", reinterpret_cast<unsigned long long*>(&gStopDeleted),
                    reinterpret_cast<unsigned long long*>(&gStopAside)) != 2)
      Usage("QUILBO_FAULTY_STOP_IN_REMOVAL is <deleted>,<aside>");
    gRemoveLogsAt = table.removeLogsAt;
    table.removeLogsAt = StopInRemoval;
  }
  const char* empty = std::getenv("QUILBO_FAULTY_EMPTY_COMMAND_LINE");
  const bool noTokens = empty != nullptr && std::strcmp(empty, "1") == 0;
  if (quilbo::NativePlatform().commandLine() != nullptr) {
    if (!noTokens) DropPlan(quilbo::NativePlatform().commandLine());
    table.commandLine = CommandLine;
  } else {
    if (!noTokens) gArguments.assign(argv + 7, argv + argc);
    if (!noTokens) gArguments.insert(gArguments.begin(), argv[0]);
    table.splitArguments = SplitArguments;
  }
  table.exitProcess = ExitProcess;
  if (const char* early = std::getenv("QUILBO_FAULTY_BEFORE_REPORTING")) {
    if (std::strcmp(early, "memory") == 0) quilbo::GetMemory(64);
    quilbo::IoStatus = static_cast<std::int32_t>(Number(early));
    quilbo::CheckIo();
  }
  quilbo::RunProgram(quilbo::RunDriver);
}
