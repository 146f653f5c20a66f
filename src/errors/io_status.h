// The per-thread pending I/O failure code and the checks that end a run.
#ifndef QUILBO_ERRORS_IO_STATUS_H_
#define QUILBO_ERRORS_IO_STATUS_H_

#include <cstdint>
#include <source_location>

namespace quilbo {

// The program's own codes; the platform's numbers are stored unchanged.
inline constexpr std::int32_t kIoReadBeyondEnd = 100;
inline constexpr std::int32_t kIoDiskFull = 101;
inline constexpr std::int32_t kIoNotAttached = 102;
inline constexpr std::int32_t kIoNotOpen = 103;
inline constexpr std::int32_t kIoNotOpenForInput = 104;
inline constexpr std::int32_t kIoNotOpenForOutput = 105;
inline constexpr std::int32_t kIoInvalidNumeric = 106;

// 0 when no failure is pending.
extern thread_local std::int32_t IoStatus;

// Stores a failure with the note that tells a person of it, made where the
// failure happened (errors/notes.h makes them); 0 leaves the pending
// failure as it was. The note goes with its failure: a later failure
// replaces both, and the failure's exception carries the note to the
// report.
void StoreIoFailure(std::int32_t code, const char* note);
// Stores a failure that no step names a file for: its note gives the
// report's message and the system's reason (made in errors/notes.cpp).
void StoreIoFailure(std::int32_t code);

// Returns the pending code and clears it, its note with it.
std::int32_t TakeIoStatus();

enum class FailureReason : std::uint8_t { kIo = 0, kOutOfMemory = 1 };

// Raises the exception for a failure at location; never returns.
[[noreturn]] void RaiseFailure(FailureReason reason, const void* location,
                               std::source_location where);

// Raises the pending failure; its location is the address it returns to.
[[noreturn, gnu::noinline]] void FailPendingIo(std::source_location where);
// Raises the memory exhaustion at the address it returns to. For a caller
// that the allocator called (libstdc++ on Linux): the report then names
// the program, where the caller lies, not the allocator's library.
[[noreturn, gnu::noinline]] void FailOutOfMemory(std::source_location where);

// Ends the run through the failure report when a code is pending.
[[gnu::always_inline]] inline void CheckIo(
    std::source_location where = std::source_location::current()) {
  if (IoStatus != 0) FailPendingIo(where);
}

// Memory that must exist; exhaustion ends the run with the out-of-memory
// report. Released with ReleaseMemory.
[[gnu::noinline]] void* GetMemory(std::uint32_t size,
                std::source_location where = std::source_location::current());
void ReleaseMemory(void* block);

}  // namespace quilbo

#endif  // QUILBO_ERRORS_IO_STATUS_H_
