// The system's words for a failure on POSIX: the errno of the call that
// failed, which travels with the failure; a number without one is read as
// the errno it usually stands for.

#ifndef _WIN32

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/errno_map.h"
#include "platform/error_text.h"
#include "platform/posix_path.h"

namespace quilbo {

void SystemErrorText(std::int32_t code, std::int32_t cause, char* out, std::uint32_t size) {
  if (size == 0) return;
  int err = cause;
  if (err == 0) err = (code & kUnmappedErrnoBase) != 0 ? code & 0xFFFF : ErrnoOfWindowsError(code);
  if (err == kErrnoUntrustedLink) {
    std::snprintf(out, size, "a link owned by another user, not followed");
  } else if (err != 0) {
    std::snprintf(out, size, "%s", std::strerror(err));
  } else {
    std::snprintf(out, size, "error %d", static_cast<int>(code));
  }
}

}  // namespace quilbo

#endif  // !_WIN32
