// What the Windows services share: handle and time conversions, and names,
// which the core carries as UTF-8 and the system takes as UTF-16.
#ifndef QUILBO_PLATFORM_WIN32_INTERNAL_H_
#define QUILBO_PLATFORM_WIN32_INTERNAL_H_
#ifdef _WIN32

#include <windows.h>

#include <cstdint>

#include "platform/platform.h"

namespace quilbo::win32 {

inline HANDLE ToHandle(OsHandle handle) { return reinterpret_cast<HANDLE>(handle); }
inline OsHandle FromHandle(HANDLE handle) { return reinterpret_cast<OsHandle>(handle); }

inline std::uint64_t FromFileTime(const FILETIME& time) {
  return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

inline FILETIME ToFileTime(std::uint64_t time) {
  FILETIME result;
  result.dwLowDateTime = static_cast<DWORD>(time);
  result.dwHighDateTime = static_cast<DWORD>(time >> 32);
  return result;
}

// A path in the system's form. Every service that hands a name to the
// system takes it through ToWide.
using WidePath = wchar_t[kMaxPath];

// name as UTF-16 in path. False, with the last error set, when it is longer
// than the system's 259 characters (206) or not in the core's form (123).
bool ToWide(const char* name, WidePath& path);

// Opens a file or folder only to ask about it (identity, attributes).
HANDLE OpenForQuery(const WidePath& path);

// The services, one file per group: win32_files.cpp, win32_search.cpp,
// win32_names.cpp, win32_lock.cpp; the process services and the table live
// in win32.cpp.
OsHandle CreateFileWin(const char* name, FileAccess access, FileCreation creation);
bool ReadFileWin(OsHandle file, void* buffer, std::uint32_t size, std::uint32_t* done);
bool WriteFileWin(OsHandle file, const void* buffer, std::uint32_t size, std::uint32_t* done);
bool SetFilePointerWin(OsHandle file, std::int64_t distance, SeekFrom from,
                       std::int64_t* position);
bool SetEndOfFileWin(OsHandle file);
bool CloseHandleWin(OsHandle handle);
bool CloseReadHandleWin(OsHandle handle);
FileKind FileTypeWin(OsHandle handle);
OsHandle StdHandleWin(StdStream stream);
bool DeleteFileWin(const char* name);
bool CreateDirectoryWin(const char* name);
bool MoveFileWin(const char* from, const char* to);
OsHandle CreateFileAsWin(const char* name, OsHandle model, const void* data,
                         std::uint32_t count);
bool LookupFileWin(const char* name, FindData* entry);
bool FlushFileWin(OsHandle file);

OsHandle FindFirstFileWin(const char* pattern, const char* neverOpen, FindData* entry);
bool FindNextFileWin(OsHandle search, FindData* entry);
bool FindCloseWin(OsHandle search);
bool FileTimeToLocalWin(std::uint64_t utc, std::uint64_t* local);
bool FileTimeToDosWin(std::uint64_t time, std::uint16_t* dosDate, std::uint16_t* dosTime);

void NameToOemWin(const char* name, char* destination, std::size_t size);
void NameToAnsiWin(const char* name, char* destination, std::size_t size);
const char* CommandLineWin();
std::uint32_t ExecutablePathWin(char* buffer, std::uint32_t size);

OsHandle LockFolderWin(const char* name, std::uint32_t waitMs);
bool UnlockFolderWin(OsHandle lock);
bool FlushFolderWin(OsHandle lock);

}  // namespace quilbo::win32

#endif  // _WIN32
#endif  // QUILBO_PLATFORM_WIN32_INTERNAL_H_
