// The program with a fault plan (tests/support/fault_platform.h) for the end-to-end
// cases; it ends with "faults: calls=<n> injected=<n> flushes=<n,...> changes=<n,...>"
// on standard error. The plan comes from the environment: QUILBO_FAULTY_PLAN=
// <service>,<nth>,<once:0|1>,<error> fails the service's nth call (once) or every
// call from it on; QUILBO_FAULTY_CRASH_BEFORE=<n> ends the run (75) before call n,
// as a kill would, QUILBO_FAULTY_POWER_LOSS_AFTER=<n> after it, unflushed writes
// lost; QUILBO_FAULTY_STOP_AFTER=<n> asks the run to stop (as SIGTERM or Ctrl-C
// would) once it has looked n times whether to;
// QUILBO_FAULTY_BEFORE_REPORTING=memory|<n> fails before the report is installed.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "driver/program.h"
#include "errors/io_status.h"
#include "platform/platform.h"
#include "support/fault_platform.h"

namespace {

namespace qt = quilbo::testing;

[[noreturn]] void Refuse(const char* why) {
  std::fprintf(stderr, "quilbo_faulty: %s (see faulty_main.cpp)\n", why);
  std::fflush(stderr);
  quilbo::NativePlatform().exitProcess(2);
  __builtin_trap();
}

std::uint64_t Number(const char* text) {
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (*text == '\0' || (*end != '\0' && *end != ',')) Refuse("a number expected");
  return value;
}

qt::FaultPlan PlanFromEnvironment() {
  qt::FaultPlan plan;
  if (const char* text = std::getenv("QUILBO_FAULTY_PLAN"); text != nullptr && *text != '\0') {
    const char* comma = std::strchr(text, ',');
    if (comma == nullptr) Refuse("QUILBO_FAULTY_PLAN is <service>,<nth>,<once>,<error>");
    const std::string name(text, comma);
    for (int i = 0; i < static_cast<int>(qt::Service::kCount); ++i)
      if (name == qt::ServiceName(static_cast<qt::Service>(i))) plan.failService = static_cast<qt::Service>(i);
    if (plan.failService == qt::Service::kCount) Refuse("unknown service name");
    unsigned long long nth = 0, once = 0;
    int error = 5;
    if (std::sscanf(comma + 1, "%llu,%llu,%d", &nth, &once, &error) != 3) Refuse("a bad plan");
    plan.fromNth = nth, plan.failOnce = once == 1, plan.error = error;
  }
  if (const char* at = std::getenv("QUILBO_FAULTY_CRASH_BEFORE")) plan.crashBefore = Number(at);
  if (const char* at = std::getenv("QUILBO_FAULTY_POWER_LOSS_AFTER")) plan.powerLossAfter = Number(at);
  return plan;
}

std::uint64_t gStopAfter = 0;

// What a stop request is here: SIGTERM, or Ctrl-C.
#ifdef _WIN32
constexpr std::int32_t kStop = 1;
#else
constexpr std::int32_t kStop = 15;
#endif

std::int32_t StopRequested() {
  if (gStopAfter == 0) return 0;
  return --gStopAfter == 0 ? (gStopAfter = 1, kStop) : 0;
}

void ExitProcess(std::uint32_t code) {
  const qt::FaultCounts& counts = qt::Counts();
  const std::string line = "faults: calls=" + std::to_string(counts.total) + " injected=" +
                           std::to_string(counts.injected) + " flushes=" + qt::FlushCallList() +
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
  qt::InstallFaults(PlanFromEnvironment());
  quilbo::PlatformApi& table = qt::FaultTable();
  if (const char* stop = std::getenv("QUILBO_FAULTY_STOP_AFTER")) {
    gStopAfter = Number(stop);
    table.stopRequested = StopRequested;
  }
  table.exitProcess = ExitProcess;
  if (const char* early = std::getenv("QUILBO_FAULTY_BEFORE_REPORTING")) {
    if (std::strcmp(early, "memory") == 0) quilbo::GetMemory(64);
    quilbo::IoStatus = static_cast<std::int32_t>(Number(early));
    quilbo::CheckIo();
  }
  quilbo::RunProgram(quilbo::RunDriver);
}
