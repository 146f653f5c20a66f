// The system's words for a failure on POSIX: the errno behind a Windows
// number, remembered where the number was made.

#ifndef _WIN32

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/errno_map.h"
#include "platform/error_text.h"
#include "platform/posix_internal.h"
#include "platform/posix_path.h"

namespace quilbo {

namespace posix {

namespace {

// Several errno values share one Windows number (EACCES, EROFS and EPERM
// are all 5): only the errno itself says which.
struct RememberedErrno {
  int err;
  std::int32_t code;
};
thread_local RememberedErrno tRemembered{0, 0};

}  // namespace

void RememberErrno(int err, std::int32_t code) { tRemembered = {err, code}; }

}  // namespace posix

void SystemErrorText(std::int32_t code, char* out, std::uint32_t size) {
  if (size == 0) return;
  int err = 0;
  if (code == posix::tRemembered.code) {
    err = posix::tRemembered.err;
  } else if ((code & kUnmappedErrnoBase) != 0) {
    err = code & 0xFFFF;
  } else {
    err = ErrnoOfWindowsError(code);
  }
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
