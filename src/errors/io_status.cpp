#include "errors/io_status.h"

#include <cstdio>
#include <new>

#include "errors/exceptions.h"
#include "errors/termination.h"
#include "platform/platform.h"

namespace quilbo {

thread_local std::int32_t IoStatus = 0;

namespace {

// The note of the pending failure: stored, taken and raised with IoStatus.
thread_local char tPendingNote[kFailureNoteSize] = "";

}  // namespace

void StoreIoFailure(std::int32_t code, const char* note) {
  if (code == 0) return;
  IoStatus = code;
  std::snprintf(tPendingNote, sizeof tPendingNote, "%s", note);
}

std::int32_t TakeIoStatus() {
  const std::int32_t code = IoStatus;
  IoStatus = 0;
  tPendingNote[0] = '\0';
  return code;
}

namespace {

FailureSite SiteOf(const void* location, std::source_location where) {
  return FailureSite{location, where.file_name(), where.line()};
}

}  // namespace

void RaiseFailure(FailureReason reason, const void* location,
                  std::source_location where) {
  if (!FailureReportingInstalled()) {
    const std::int32_t code =
        reason == FailureReason::kOutOfMemory ? 203 : IoStatus;
    ExitProgramAt(code, location);
  }
  if (reason == FailureReason::kOutOfMemory) {
    EOutOfMemory& reserved = ReservedOutOfMemory();
    reserved = EOutOfMemory(SiteOf(location, where));
    throw reserved;
  }
  const EInOutError failure(IoStatus, SiteOf(location, where), tPendingNote);
  TakeIoStatus();
  throw failure;
}

void FailPendingIo(std::source_location where) {
  RaiseFailure(FailureReason::kIo, __builtin_return_address(0), where);
}

void FailOutOfMemory(std::source_location where) {
  RaiseFailure(FailureReason::kOutOfMemory, __builtin_return_address(0), where);
}

void* GetMemory(std::uint32_t size, std::source_location where) {
  void* block = Os().allocate(size);
  if (block == nullptr)
    RaiseFailure(FailureReason::kOutOfMemory, __builtin_return_address(0),
                 where);
  return block;
}

void ReleaseMemory(void* block) { Os().release(block); }

}  // namespace quilbo
