// POSIX times in the Windows forms: file times (100 ns units since 1601,
// UTC), local file times, and the packed MS-DOS date and time.

#ifndef _WIN32

#include <cerrno>
#include <cstdint>
#include <ctime>

#include "platform/posix_internal.h"

namespace quilbo::posix {

namespace {

constexpr std::uint64_t kTicksPerSecond = 10000000;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kEpochDelta = 11644473600LL;

}  // namespace

std::uint64_t ToFileTime(const struct timespec& when) {
  return static_cast<std::uint64_t>(when.tv_sec + kEpochDelta) *
             kTicksPerSecond +
         static_cast<std::uint64_t>(when.tv_nsec / 100);
}

bool FileTimeToLocalPosix(std::uint64_t utc, std::uint64_t* local) {
  const std::time_t seconds =
      static_cast<std::int64_t>(utc / kTicksPerSecond) - kEpochDelta;
  struct tm parts {};
  if (localtime_r(&seconds, &parts) == nullptr) return Fail(EINVAL);
  const std::int64_t shifted =
      static_cast<std::int64_t>(utc) +
      parts.tm_gmtoff * static_cast<std::int64_t>(kTicksPerSecond);
  // A local time before 1601 has no file time.
  if (shifted < 0) return Fail(EINVAL);
  *local = static_cast<std::uint64_t>(shifted);
  return true;
}

namespace {

// Civil date from days since 1970-01-01 (proleptic Gregorian).
void CivilFromDays(std::int64_t days, int* year, unsigned* month,
                   unsigned* day) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto doe = static_cast<unsigned>(days - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *day = doy - (153 * mp + 2) / 5 + 1;
  *month = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 +
                           (*month <= 2 ? 1 : 0));
}

}  // namespace

bool FileTimeToDosPosix(std::uint64_t time, std::uint16_t* dosDate,
                        std::uint16_t* dosTime) {
  const auto seconds =
      static_cast<std::int64_t>(time / kTicksPerSecond) - kEpochDelta;
  std::int64_t days = seconds / 86400;
  std::int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  int year = 0;
  unsigned month = 0;
  unsigned day = 0;
  CivilFromDays(days, &year, &month, &day);
  if (year < 1980 || year > 2107) return Fail(EINVAL);
  const auto hour = static_cast<unsigned>(rest / 3600);
  const auto minute = static_cast<unsigned>(rest % 3600 / 60);
  const auto second = static_cast<unsigned>(rest % 60);
  *dosDate = static_cast<std::uint16_t>(
      (static_cast<unsigned>(year - 1980) << 9) | (month << 5) | day);
  *dosTime =
      static_cast<std::uint16_t>((hour << 11) | (minute << 5) | (second / 2));
  return true;
}

}  // namespace quilbo::posix

#endif  // !_WIN32
