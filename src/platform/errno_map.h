// The translation of POSIX errno values into the Windows error numbers the
// rest of the program expects. Only the POSIX build has it.
#ifndef QUILBO_PLATFORM_ERRNO_MAP_H_
#define QUILBO_PLATFORM_ERRNO_MAP_H_

#include <cstdint>

namespace quilbo {

// Codes for errno values without a Windows counterpart carry this bit, so
// they can never be mistaken for one of the program's own codes.
inline constexpr std::int32_t kUnmappedErrnoBase = 0x20000000;

// The Windows number for err. For ENOENT, path (when given, in POSIX form)
// decides between "file not found" (2) and "path not found" (3).
std::int32_t WindowsErrorFromErrno(int err, const char* path);

// The errno value a Windows number usually stands for; 0 when none.
int ErrnoOfWindowsError(std::int32_t code);

}  // namespace quilbo

#endif  // QUILBO_PLATFORM_ERRNO_MAP_H_
