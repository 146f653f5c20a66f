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

// Opens a file or folder only to ask about it (identity, attributes);
// win32_files.cpp.
HANDLE OpenForQuery(const WidePath& path);

// The file map: what each file of the Windows platform gives the table.
// win32.cpp: the table and the process services; win32_error_text.cpp:
// the system's words for a failure (error_text.h).

// win32_files.cpp: files, and the services on whole paths that the folder
// steps join their names into.
OsHandle CreateFileWin(const char* name, FileAccess access, FileCreation creation);
bool ReadFileWin(OsHandle file, void* buffer, std::uint32_t size, std::uint32_t* done);
bool WriteFileWin(OsHandle file, const void* buffer, std::uint32_t size, std::uint32_t* done);
bool SetFilePointerWin(OsHandle file, std::int64_t distance, SeekFrom from,
                       std::int64_t* position);
bool SetEndOfFileWin(OsHandle file);
bool CloseHandleWin(OsHandle handle);
FileKind FileTypeWin(OsHandle handle);
OsHandle StdHandleWin(StdStream stream);
bool DeleteFileWin(const char* name);
bool CreateDirectoryWin(const char* name);
OsHandle CreateFileAsWin(const char* name, OsHandle model, const void* data,
                         std::uint32_t count);
bool LookupFileWin(const char* name, FindData* entry);
bool FlushFileWin(OsHandle file);

// win32_folders.cpp: folders opened once and the steps inside them.
OsHandle OpenFolderWin(const char* name);
bool CloseFolderWin(OsHandle folder);
OsHandle CreateFileAtWin(OsHandle folder, const char* name, FileAccess access,
                         FileCreation creation);
OsHandle OpenFoundAtWin(OsHandle folder, FindData* entry);
bool MoveFileAtWin(OsHandle fromFolder, const char* from, OsHandle toFolder, const char* to,
                   bool replace);
OsHandle CreateFileAsAtWin(OsHandle folder, const char* name, OsHandle model,
                           const void* data, std::uint32_t count);
// Windows has no unnamed files: both fail with kErrNotSupported, and the
// caller creates its file under a name.
OsHandle CreateUnnamedAtWin(OsHandle folder, OsHandle model);
bool NameFileAtWin(OsHandle folder, OsHandle file, const char* name);
bool DeleteFileAtWin(OsHandle folder, const char* name);
bool FlushFilesAtWin(OsHandle folder, const char* const* names, std::size_t count);
bool EntryInfoAtWin(OsHandle folder, const char* name, bool followLinks, FileInfo* info);
bool FileInfoOfWin(OsHandle file, FileInfo* info);
OsHandle OpenToDeleteAtWin(OsHandle folder, const char* name);
bool NoLeaseWin(OsHandle file);

// win32_search.cpp: the walk and time conversions.
OsHandle FindFirstFileWin(const char* pattern, const char* neverOpen, FindData* entry);
bool FindNextFileWin(OsHandle search, FindData* entry);
bool FindCloseWin(OsHandle search);
bool FileTimeToLocalWin(std::uint64_t utc, std::uint64_t* local);
bool FileTimeToDosWin(std::uint64_t time, std::uint16_t* dosDate, std::uint16_t* dosTime);

// win32_names.cpp: names on the console, and the command line.
void NameToOemWin(const char* name, char* destination, std::size_t size);
void NameToAnsiWin(const char* name, char* destination, std::size_t size);
const char* CommandLineWin();
std::uint32_t ExecutablePathWin(char* buffer, std::uint32_t size);

// win32_lock.cpp: folder locks and their flushes.
OsHandle LockFolderWin(const char* name, std::uint32_t waitMs);
bool UnlockFolderWin(OsHandle lock);
bool FlushFolderWin(OsHandle lock);

// win32_work.cpp: threads, requests to stop, the clock and the limit on
// open files.
OsHandle StartWorkWin(WorkFunction work, void* context);
bool FinishWorkWin(OsHandle work);
void WatchStopsWin();
std::int32_t StopRequestedWin();
const char* StopNameWin(std::int32_t stop);
void EndStoppedWin(std::int32_t stop);
std::uint64_t TickCountWin();
std::uint32_t OpenFilesAllowedWin();

}  // namespace quilbo::win32

#endif  // _WIN32
#endif  // QUILBO_PLATFORM_WIN32_INTERNAL_H_
