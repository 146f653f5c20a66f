#include "errors/exceptions.h"

#include <cstdio>

namespace quilbo {

Exception::Exception(const char* message, FailureSite site) : site_(site) {
  std::snprintf(message_, sizeof message_, "%s", message);
}

void IoMessage(std::int32_t code, char* out, std::uint32_t size) {
  struct Row {
    std::int32_t code;
    const char* message;
  };
  static constexpr Row kMessages[] = {
      {2, "File not found"},          {3, "Invalid filename"},
      {4, "Too many open files"},     {5, "File access denied"},
      {100, "Read beyond end of file"}, {101, "Disk full"},
      {106, "Invalid numeric input"},
  };
  for (const Row& row : kMessages) {
    if (row.code == code) {
      std::snprintf(out, size, "%s", row.message);
      return;
    }
  }
  std::snprintf(out, size, "I/O error %d", static_cast<int>(code));
}

EInOutError::EInOutError(std::int32_t code, FailureSite site, const char* note)
    : Exception(site), ioCode_(code) {
  IoMessage(code, MessageBuffer(), kMessageSize);
  std::snprintf(note_, sizeof note_, "%s", note);
}

}  // namespace quilbo
