// Ending a run for a condition that is not an I/O code of its own.
#ifndef QUILBO_ERRORS_RAISE_H_
#define QUILBO_ERRORS_RAISE_H_

#include <source_location>

namespace quilbo {

// Ends the run through the failure report with class Exception and this
// message (copied; at most 255 characters).
[[noreturn, gnu::noinline]] void RaiseError(
    const char* message,
    std::source_location where = std::source_location::current());

}  // namespace quilbo

#endif  // QUILBO_ERRORS_RAISE_H_
