// A wrapped platform table for tests: counts every call by service and
// makes chosen calls fail with a chosen Windows error number.
#ifndef QUILBO_TESTS_SUPPORT_FAULT_PLATFORM_H_
#define QUILBO_TESTS_SUPPORT_FAULT_PLATFORM_H_

#include <cstdint>

#include "platform/platform.h"

namespace quilbo::testing {

// The services that can fail, in table order: the table's field, the
// service's name here, and what the call returns when it fails.
#define QUILBO_FAILABLE_SERVICES(X)                                                      \
  X(readFile, kReadFile, false) X(writeFile, kWriteFile, false)                          \
  X(setFilePointer, kSetFilePointer, false) X(setEndOfFile, kSetEndOfFile, false)        \
  X(closeHandle, kCloseHandle, false)                                                    \
  X(moveFileAt, kMoveFileAt, false)                                              \
  X(findFirstFile, kFindFirstFile, kInvalidHandle) X(findNextFile, kFindNextFile, false) \
  X(findClose, kFindClose, false)                                                        \
  X(fileTimeToLocalFileTime, kFileTimeToLocalFileTime, false)                            \
  X(fileTimeToDosDateTime, kFileTimeToDosDateTime, false)                                \
  X(createDirectory, kCreateDirectory, false)              \
  X(lockFolder, kLockFolder, kInvalidHandle) X(unlockFolder, kUnlockFolder, false)       \
  X(flushFile, kFlushFile, false) X(flushFolder, kFlushFolder, false)                    \
  X(openFolder, kOpenFolder, kInvalidHandle) X(closeFolder, kCloseFolder, false)         \
  X(createFileAt, kCreateFileAt, kInvalidHandle) X(openFoundAt, kOpenFoundAt, kInvalidHandle) \
  X(createFileAsAt, kCreateFileAsAt, kInvalidHandle)                                     \
  X(createUnnamedAt, kCreateUnnamedAt, kInvalidHandle) X(nameFileAt, kNameFileAt, false) \
  X(deleteFileAt, kDeleteFileAt, false) X(flushFilesAt, kFlushFilesAt, false)            \
  X(entryInfoAt, kEntryInfoAt, false) X(fileInfoOf, kFileInfoOf, false)                  \
  X(takeLease, kTakeLease, false) X(leaseHeld, kLeaseHeld, false)                        \
  X(dropLease, kDropLease, false) X(openToDeleteAt, kOpenToDeleteAt, kInvalidHandle)     \
  X(allocate, kAllocate, nullptr)

#define QUILBO_SERVICE_ENUM(field, service, failValue) service,
enum class Service : std::uint8_t { QUILBO_FAILABLE_SERVICES(QUILBO_SERVICE_ENUM) kCount };
#undef QUILBO_SERVICE_ENUM

// The field's name.
const char* ServiceName(Service service);

struct FaultPlan {
  std::uint64_t failCall = 0;  // fail the call of this 1-based number, of any service (0: none)
  Service failService = Service::kCount;  // fail calls of this service (kCount: none)...
  std::uint64_t fromNth = 1;              // ...from its Nth call on,
  bool failOnce = false;                  // ...or only that one
  std::int32_t error = 5;
  // End the process, as a kill would, just before the call of this number
  // (0: never), or just after it, as a power loss would: every file loses
  // what was written to it since it was last flushed; names stay as made,
  // and a file without a name is gone.
  std::uint64_t crashBefore = 0;
  std::uint64_t powerLossAfter = 0;
};
inline constexpr std::uint32_t kCrashExitCode = 75;  // of a process a crash point ended

struct FaultCounts {
  std::uint64_t total;
  std::uint64_t byService[static_cast<int>(Service::kCount)];
  std::uint64_t injected;
};

// Replaces the platform table with the counting wrapper (counts reset);
// RemoveFaults goes back to the native table. Work the run would hand to
// another thread is done in the call that starts it, so that every run
// makes its calls in the same order.
void InstallFaults(const FaultPlan& plan);
void RemoveFaults();
const FaultCounts& Counts();
// Numbers of the calls that flushed a file or a folder (or saw a flush
// finish), in order.
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
