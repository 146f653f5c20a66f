#include "support/fault_platform.h"

#include <string>
#include <tuple>

namespace quilbo::testing {

namespace {

FaultPlan gPlan;
FaultCounts gCounts;
PlatformApi gTable;
std::string gFlushes;
std::string gChanges;

void Note(std::string& list, std::uint64_t call) {
  if (!list.empty()) list.push_back(',');
  list.append(std::to_string(call));
}

// Whether a call may have changed what the disk holds (writes to the
// console and opens of existing files do not).
template <Service S, typename R, typename... A>
bool Changed(R result, A... args) {
  const auto values = std::make_tuple(args...);
  if constexpr (S == Service::kCreateFile || S == Service::kCreateFileAt) {
    return result != kInvalidHandle &&
           std::get<S == Service::kCreateFile ? 2 : 3>(values) != FileCreation::kOpenExisting;
  } else if constexpr (S == Service::kWriteFile) {
    return NativePlatform().fileType(std::get<0>(values)) == FileKind::kDisk;
  } else {
    return S == Service::kCreateFileAs || S == Service::kSetEndOfFile || S == Service::kMoveFile ||
           S == Service::kMoveFileOverAt || S == Service::kDeleteFile ||
           S == Service::kCreateDirectory || S == Service::kCreateFileAsAt ||
           S == Service::kDeleteFileAt || S == Service::kRemoveLogsAt;
  }
}

[[noreturn]] void EndProcess() {
  NativePlatform().exitProcess(kCrashExitCode);
  __builtin_trap();
}

// Counts one call of service and says whether it must fail; a failing call
// leaves the plan's error as the last error.
bool ShouldFail(Service service) {
  if (gPlan.crashBefore != 0 && gCounts.total + 1 == gPlan.crashBefore) EndProcess();
  ++gCounts.total;
  const std::uint64_t nth = ++gCounts.byService[static_cast<int>(service)];
  if (service == Service::kFlushFile || service == Service::kFlushFolder ||
      service == Service::kFlushFilesAt)
    Note(gFlushes, gCounts.total);
  bool fail = gPlan.failCall != 0 && gCounts.total == gPlan.failCall;
  if (service == gPlan.failService)
    fail = fail || (gPlan.failOnce ? nth == gPlan.fromNth : nth >= gPlan.fromNth);
  if (fail) {
    ++gCounts.injected;
    NativePlatform().setLastError(gPlan.error);
  }
  return fail;
}

// Each wrapper forwards to the native table unless the plan says fail.
template <Service S, auto Member, auto FailValue>
struct Wrap;

template <Service S, typename R, typename... A, R (*PlatformApi::*Member)(A...), auto FailValue>
struct Wrap<S, Member, FailValue> {
  static R Call(A... args) {
    if (ShouldFail(S)) return static_cast<R>(FailValue);
    const R result = (NativePlatform().*Member)(args...);
    if (Changed<S>(result, args...)) Note(gChanges, gCounts.total);
    return result;
  }
};

// A failed group deletion keeps every log, and still closes their handles
// as the real one does.
bool RemoveLogsAt(OsHandle folder, LogRemoval* logs, std::size_t count) {
  if (!ShouldFail(Service::kRemoveLogsAt)) {
    const bool result = NativePlatform().removeLogsAt(folder, logs, count);
    Note(gChanges, gCounts.total);
    return result;
  }
  for (std::size_t i = 0; i < count; ++i) {
    NativePlatform().closeHandle(logs[i].file);
    logs[i].error = gPlan.error;
  }
  NativePlatform().setLastError(gPlan.error);
  return false;
}

}  // namespace

const char* ServiceName(Service service) {
#define QUILBO_SERVICE_NAME(field, service, failValue) #field,
  static constexpr const char* kNames[] = {QUILBO_FAILABLE_SERVICES(QUILBO_SERVICE_NAME)};
#undef QUILBO_SERVICE_NAME
  return kNames[static_cast<int>(service)];
}

void InstallFaults(const FaultPlan& plan) {
  gPlan = plan;
  gCounts = FaultCounts{};
  gFlushes.clear();
  gChanges.clear();
  gTable = NativePlatform();
#define QUILBO_WRAP(field, service, failValue) \
  gTable.field = &Wrap<Service::service, &PlatformApi::field, failValue>::Call;
  QUILBO_FAILABLE_SERVICES(QUILBO_WRAP)
#undef QUILBO_WRAP
  gTable.removeLogsAt = RemoveLogsAt;
  SetPlatform(&gTable);
}

void RemoveFaults() { SetPlatform(nullptr); }
const FaultCounts& Counts() { return gCounts; }
const char* FlushCallList() { return gFlushes.c_str(); }
const char* ChangeCallList() { return gChanges.c_str(); }
std::uint64_t CallsOf(Service service) { return gCounts.byService[static_cast<int>(service)]; }
PlatformApi& FaultTable() { return gTable; }

}  // namespace quilbo::testing
