#include "errors/io_status.h"

#include <new>

#include "errors/exceptions.h"
#include "errors/termination.h"
#include "platform/platform.h"

namespace quilbo {

thread_local std::int32_t IoStatus = 0;
thread_local std::uint32_t IoFailureCount = 0;

std::int32_t TakeIoStatus() {
  const std::int32_t code = IoStatus;
  IoStatus = 0;
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
  const std::int32_t code = IoStatus;
  IoStatus = 0;
  throw EInOutError(code, SiteOf(location, where));
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
