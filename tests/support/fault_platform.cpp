#include "support/fault_platform.h"

namespace quilbo::testing {

namespace {

FaultPlan gPlan;
FaultCounts gCounts;
PlatformApi gTable;

// Counts one call of service and says whether it must fail; a failing call
// leaves the plan's error as the last error.
bool ShouldFail(Service service) {
  const auto index = static_cast<int>(service);
  ++gCounts.total;
  const std::uint64_t nth = ++gCounts.byService[index];
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

template <Service S, typename R, typename... A, R (*PlatformApi::*Member)(A...),
          auto FailValue>
struct Wrap<S, Member, FailValue> {
  static R Call(A... args) {
    if (ShouldFail(S)) return static_cast<R>(FailValue);
    return (NativePlatform().*Member)(args...);
  }
};

// A failed group deletion keeps every log, and still closes their handles
// as the real one does.
bool RemoveLogsAt(OsHandle folder, LogRemoval* logs, std::size_t count) {
  if (!ShouldFail(Service::kRemoveLogsAt))
    return NativePlatform().removeLogsAt(folder, logs, count);
  for (std::size_t i = 0; i < count; ++i) {
    NativePlatform().closeHandle(logs[i].file);
    logs[i].error = gPlan.error;
  }
  NativePlatform().setLastError(gPlan.error);
  return false;
}

#define QUILBO_WRAP(field, service, failValue) \
  gTable.field = &Wrap<Service::service, &PlatformApi::field, failValue>::Call

void BuildTable() {
  gTable = NativePlatform();
  QUILBO_WRAP(createFile, kCreateFile, kInvalidHandle);
  QUILBO_WRAP(readFile, kReadFile, false);
  QUILBO_WRAP(writeFile, kWriteFile, false);
  QUILBO_WRAP(setFilePointer, kSetFilePointer, false);
  QUILBO_WRAP(setEndOfFile, kSetEndOfFile, false);
  QUILBO_WRAP(closeHandle, kCloseHandle, false);
  QUILBO_WRAP(findFirstFile, kFindFirstFile, kInvalidHandle);
  QUILBO_WRAP(findNextFile, kFindNextFile, false);
  QUILBO_WRAP(findClose, kFindClose, false);
  QUILBO_WRAP(fileTimeToLocalFileTime, kFileTimeToLocalFileTime, false);
  QUILBO_WRAP(fileTimeToDosDateTime, kFileTimeToDosDateTime, false);
  QUILBO_WRAP(deleteFile, kDeleteFile, false);
  QUILBO_WRAP(createDirectory, kCreateDirectory, false);
  QUILBO_WRAP(moveFile, kMoveFile, false);
  QUILBO_WRAP(fileIdentity, kFileIdentity, false);
  QUILBO_WRAP(copyAccess, kCopyAccess, false);
  QUILBO_WRAP(lockFolder, kLockFolder, kInvalidHandle);
  QUILBO_WRAP(unlockFolder, kUnlockFolder, false);
  QUILBO_WRAP(flushFile, kFlushFile, false);
  QUILBO_WRAP(flushFolder, kFlushFolder, false);
  QUILBO_WRAP(lookupFile, kLookupFile, false);
  QUILBO_WRAP(openFolder, kOpenFolder, kInvalidHandle);
  QUILBO_WRAP(closeFolder, kCloseFolder, false);
  QUILBO_WRAP(createFileAt, kCreateFileAt, kInvalidHandle);
  QUILBO_WRAP(lookupFileAt, kLookupFileAt, false);
  QUILBO_WRAP(fileIdentityAt, kFileIdentityAt, false);
  QUILBO_WRAP(deleteFileAt, kDeleteFileAt, false);
  QUILBO_WRAP(flushFilesAt, kFlushFilesAt, false);
  gTable.removeLogsAt = RemoveLogsAt;
  QUILBO_WRAP(allocate, kAllocate, nullptr);
}

#undef QUILBO_WRAP

}  // namespace

const char* ServiceName(Service service) {
  static constexpr const char* kNames[] = {
      "createFile",    "readFile",          "writeFile",
      "setFilePointer", "setEndOfFile",     "closeHandle",
      "findFirstFile", "findNextFile",      "findClose",
      "fileTimeToLocalFileTime", "fileTimeToDosDateTime", "deleteFile",
      "createDirectory", "moveFile",        "fileIdentity",
      "copyAccess",    "lockFolder",        "unlockFolder",
      "flushFile",     "flushFolder",       "lookupFile",
      "openFolder",    "closeFolder",       "createFileAt",
      "lookupFileAt",  "fileIdentityAt",    "deleteFileAt",
      "flushFilesAt",  "removeLogsAt",      "allocate",
  };
  const auto index = static_cast<int>(service);
  return index < static_cast<int>(Service::kCount) ? kNames[index] : "none";
}

void InstallFaults(const FaultPlan& plan) {
  gPlan = plan;
  gCounts = FaultCounts{};
  BuildTable();
  SetPlatform(&gTable);
}

void RemoveFaults() { SetPlatform(nullptr); }

const FaultCounts& Counts() { return gCounts; }

std::uint64_t CallsOf(Service service) {
  return gCounts.byService[static_cast<int>(service)];
}

PlatformApi& FaultTable() { return gTable; }

}  // namespace quilbo::testing
