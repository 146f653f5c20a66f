// The Windows services of folders opened once (win32_folders.cpp), for the
// table in win32.cpp. Only the Windows build has them.
#ifndef QUILBO_PLATFORM_WIN32_FOLDERS_H_
#define QUILBO_PLATFORM_WIN32_FOLDERS_H_

#ifdef _WIN32

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace quilbo::win32 {

OsHandle OpenFolderWin(const char* name);
bool CloseFolderWin(OsHandle folder);
OsHandle CreateFileAtWin(OsHandle folder, const char* name, FileAccess access,
                         FileCreation creation);
bool MoveFileOverAtWin(OsHandle folder, const char* from, const char* to, bool replace);
OsHandle CreateFileAsAtWin(OsHandle folder, const char* name, OsHandle model,
                           const void* data, std::uint32_t count);
// Windows has no unnamed files: both fail with kErrNotSupported, and the
// caller creates its file under a name.
OsHandle CreateUnnamedAtWin(OsHandle folder, OsHandle model);
bool NameFileAtWin(OsHandle folder, OsHandle file, const char* name);
OsHandle OpenFoundAtWin(OsHandle folder, FindData* entry);
bool DeleteFileAtWin(OsHandle folder, const char* name);
bool FlushFilesAtWin(OsHandle folder, const char* const* names, std::size_t count);
bool EntryInfoAtWin(OsHandle folder, const char* name, bool followLinks, FileInfo* info);
bool FileInfoOfWin(OsHandle file, FileInfo* info);
OsHandle OpenToDeleteAtWin(OsHandle folder, const char* name);
bool NoLeaseWin(OsHandle file);
// Threads and requests to stop (win32_work.cpp).
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

#endif  // QUILBO_PLATFORM_WIN32_FOLDERS_H_
