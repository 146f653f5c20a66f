// The system's words for a failure on Windows, in the console's code page.

#ifdef _WIN32

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/error_text.h"

namespace quilbo {

void SystemErrorText(std::int32_t code, std::int32_t cause, char* out, std::uint32_t size) {
  if (size == 0) return;
  if (cause != 0) code = cause;
  char text[512];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, static_cast<DWORD>(code), 0, text, sizeof text,
                           nullptr);
  // The message ends with a full stop and a line end; the note goes on.
  while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' ||
                   text[n - 1] == ' ' || text[n - 1] == '.'))
    --n;
  if (n == 0) {
    std::snprintf(out, size, "error %d", static_cast<int>(code));
    return;
  }
  text[n] = '\0';
  // A console shows the OEM code page, as it does the names the walk found.
  CharToOemBuffA(text, text, n);
  std::snprintf(out, size, "%s", text);
}

}  // namespace quilbo

#endif  // _WIN32
