// The system's own words for a failure, for the notes on standard error.
#ifndef QUILBO_PLATFORM_ERROR_TEXT_H_
#define QUILBO_PLATFORM_ERROR_TEXT_H_

#include <cstdint>

namespace quilbo {

// Writes the system's reason for the Windows error number code into out
// (NUL-terminated, no final full stop or line end): FormatMessage on
// Windows; on POSIX strerror of the errno behind the last failure that
// became code, else of the errno code usually stands for. Without words of
// the system: "error <code>".
void SystemErrorText(std::int32_t code, char* out, std::uint32_t size);

}  // namespace quilbo

#endif  // QUILBO_PLATFORM_ERROR_TEXT_H_
