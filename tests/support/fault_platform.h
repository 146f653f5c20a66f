// A wrapped platform table for tests: counts every call by service and
// makes chosen calls fail with a chosen Windows error number.
#ifndef QUILBO_TESTS_SUPPORT_FAULT_PLATFORM_H_
#define QUILBO_TESTS_SUPPORT_FAULT_PLATFORM_H_

#include <cstdint>

#include "platform/platform.h"

namespace quilbo::testing {

// The services that can fail, in table order.
enum class Service : std::uint8_t {
  kCreateFile,
  kReadFile,
  kWriteFile,
  kSetFilePointer,
  kSetEndOfFile,
  kCloseHandle,
  kCreateFileAs,
  kMoveFileOverAt,
  kFindFirstFile,
  kFindNextFile,
  kFindClose,
  kFileTimeToLocalFileTime,
  kFileTimeToDosDateTime,
  kDeleteFile,
  kCreateDirectory,
  kMoveFile,
  kFileIdentity,
  kLockFolder,
  kUnlockFolder,
  kFlushFile,
  kFlushFolder,
  kLookupFile,
  kOpenFolder,
  kCloseFolder,
  kCreateFileAt,
  kCreateFileAsAt,
  kLookupFileAt,
  kFileIdentityAt,
  kDeleteFileAt,
  kFlushFilesAt,
  kRemoveLogsAt,
  kAllocate,
  kCount,
};

const char* ServiceName(Service service);

struct FaultPlan {
  // Fail the call with this 1-based number, counting calls of every
  // failable service (0: none).
  std::uint64_t failCall = 0;
  // Fail every call of this service (kCount: none)...
  Service failService = Service::kCount;
  // ...from its Nth call on (1-based), or only that one with failOnce.
  std::uint64_t fromNth = 1;
  bool failOnce = false;
  std::int32_t error = 5;
  // End the process, as a kill would, just before the call with this
  // number (0: never)...
  std::uint64_t crashBefore = 0;
  // ...or just after it, as a power loss would: every file loses what was
  // written to it since it was last flushed; names stay as they were made.
  std::uint64_t powerLossAfter = 0;
};

// The exit code of a process that a crash point ended.
inline constexpr std::uint32_t kCrashExitCode = 75;

struct FaultCounts {
  std::uint64_t total;
  std::uint64_t byService[static_cast<int>(Service::kCount)];
  std::uint64_t injected;
};

// Replaces the platform table with the counting wrapper (counts reset).
void InstallFaults(const FaultPlan& plan);
// Back to the native table.
void RemoveFaults();
const FaultCounts& Counts();
// Numbers of the calls that flushed a file or a folder, in order.
const char* FlushCallList();
// Numbers of the calls that may have changed what the disk holds: between
// two of them, a crash leaves the same files.
const char* ChangeCallList();
std::uint64_t CallsOf(Service service);

// Scoped installation for a test body.
struct ScopedFaults {
  explicit ScopedFaults(const FaultPlan& plan) { InstallFaults(plan); }
  ~ScopedFaults() { RemoveFaults(); }
  ScopedFaults(const ScopedFaults&) = delete;
  ScopedFaults& operator=(const ScopedFaults&) = delete;
};

// The wrapped table, for tests that want to replace single entries on top
// of the counting (for example to delete a file at a chosen moment).
PlatformApi& FaultTable();

}  // namespace quilbo::testing

#endif  // QUILBO_TESTS_SUPPORT_FAULT_PLATFORM_H_
