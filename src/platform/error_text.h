// The system's own words for a failure, for the notes on standard error.
#ifndef QUILBO_PLATFORM_ERROR_TEXT_H_
#define QUILBO_PLATFORM_ERROR_TEXT_H_

#include <cstdint>

namespace quilbo {

// Writes the system's reason for a failure into out (NUL-terminated, no
// final full stop or line end): for its cause (lastCause of the call that
// failed) when it has one, else for the Windows number code. Windows:
// FormatMessage; POSIX: strerror of the errno, a code without a cause read
// as the errno it usually stands for. Without words of the system:
// "error <code>".
void SystemErrorText(std::int32_t code, std::int32_t cause, char* out, std::uint32_t size);

}  // namespace quilbo

#endif  // QUILBO_PLATFORM_ERROR_TEXT_H_
