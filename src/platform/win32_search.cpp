// Windows directory search and time conversions.
#ifdef _WIN32

#include "platform/utf16.h"
#include "platform/win32_internal.h"

namespace quilbo::win32 {

namespace {

void CopyFindData(const WIN32_FIND_DATAW& os, FindData* entry) {
  entry->attributes = os.dwFileAttributes;
  entry->lastWriteTime = FromFileTime(os.ftLastWriteTime);
  entry->size = (static_cast<std::uint64_t>(os.nFileSizeHigh) << 32) | os.nFileSizeLow;
  // 259 units take at most 777 bytes: every name the system gives fits.
  static_assert(sizeof entry->name >= 3 * (sizeof os.cFileName / sizeof os.cFileName[0] - 1) + 1);
  Utf8FromUtf16(os.cFileName, entry->name, sizeof entry->name);
  entry->held = kInvalidHandle;  // a look costs no open here
}

}  // namespace

// The search opens nothing, so no name needs keeping shut.
OsHandle FindFirstFileWin(const char* pattern, const char* /*neverOpen*/, FindData* entry) {
  WidePath path;
  if (!ToWide(pattern, path)) return kInvalidHandle;
  WIN32_FIND_DATAW os;
  HANDLE search = FindFirstFileW(path, &os);
  if (search == INVALID_HANDLE_VALUE) return kInvalidHandle;
  CopyFindData(os, entry);
  return FromHandle(search);
}

bool FindNextFileWin(OsHandle search, FindData* entry) {
  WIN32_FIND_DATAW os;
  if (!FindNextFileW(ToHandle(search), &os)) return false;
  CopyFindData(os, entry);
  return true;
}

bool FindCloseWin(OsHandle search) { return FindClose(ToHandle(search)) != FALSE; }

bool FileTimeToLocalWin(std::uint64_t utc, std::uint64_t* local) {
  const FILETIME in = ToFileTime(utc);
  FILETIME out;
  if (!FileTimeToLocalFileTime(&in, &out)) return false;
  *local = FromFileTime(out);
  return true;
}

bool FileTimeToDosWin(std::uint64_t time, std::uint16_t* dosDate, std::uint16_t* dosTime) {
  const FILETIME in = ToFileTime(time);
  // Some implementations (wine) wrap years past 2107 instead of failing.
  SYSTEMTIME parts;
  if (!FileTimeToSystemTime(&in, &parts)) return false;
  if (parts.wYear < 1980 || parts.wYear > 2107) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  WORD date = 0;
  WORD clock = 0;
  if (!FileTimeToDosDateTime(&in, &date, &clock)) return false;
  *dosDate = date;
  *dosTime = clock;
  return true;
}

}  // namespace quilbo::win32

#endif  // _WIN32
