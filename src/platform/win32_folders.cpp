// Windows folders opened once per run: a folder handle carries the folder's
// path, and each step joins it with one entry name and makes the call that
// takes the whole path. The system resolves that path each time, so these
// wrappers stay thin and go through the table's own name-based services.
#ifdef _WIN32

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "platform/win32_folders.h"
#include "platform/win32_internal.h"

namespace quilbo::win32 {

namespace {

struct Folder {
  char path[kPathBytes];  // empty, or ending in a separator or drive colon
};

const Folder* FolderOf(OsHandle folder) { return reinterpret_cast<const Folder*>(folder); }

// The folder's path joined with name, in joined; false (206, or 123 for a
// name that is not one entry) when it cannot be made.
bool Join(OsHandle folder, const char* name, char (&joined)[kPathBytes]) {
  if (name[0] == '\0' || std::strpbrk(name, "\\/:") != nullptr) {
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  const char* path = FolderOf(folder)->path;
  const std::size_t a = std::strlen(path);
  const std::size_t b = std::strlen(name);
  if (a + b >= sizeof joined) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  std::memcpy(joined, path, a);
  std::memcpy(joined + a, name, b + 1);
  return true;
}

// Open for deleting, sharing nothing but deletion: refused (32) while any
// other process holds the log open, and nobody else can open it until the
// handle closes. A link is opened itself, never its target.
HANDLE OpenToDelete(const WidePath& path) {
  return CreateFileW(path, DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

std::int32_t RemoveOne(const char* name, std::int64_t copiedSize) {
  WidePath path;
  if (!ToWide(name, path)) return static_cast<std::int32_t>(GetLastError());
  HANDLE file = OpenToDelete(path);
  if (file == INVALID_HANDLE_VALUE) return static_cast<std::int32_t>(GetLastError());
  BY_HANDLE_FILE_INFORMATION info;
  LARGE_INTEGER size;
  std::int32_t error = 0;
  if (!GetFileInformationByHandle(file, &info) || !GetFileSizeEx(file, &size)) {
    error = static_cast<std::int32_t>(GetLastError());
  } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
             copiedSize >= 0 && size.QuadPart != copiedSize) {
    error = ERROR_SHARING_VIOLATION;
  } else if (!DeleteFileW(path)) {
    error = static_cast<std::int32_t>(GetLastError());
  }
  CloseHandle(file);  // the deletion takes effect here
  return error;
}

}  // namespace

OsHandle OpenFolderWin(const char* name) {
  FindData found{};
  if (name[0] != '\0' && !NativePlatform().lookupFile(name, &found)) {
    if (GetLastError() == ERROR_FILE_NOT_FOUND) SetLastError(ERROR_PATH_NOT_FOUND);
    return kInvalidHandle;
  }
  if (name[0] != '\0' && (found.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return kInvalidHandle;
  }
  const std::size_t length = std::strlen(name);
  auto* folder = static_cast<Folder*>(std::calloc(1, sizeof(Folder)));
  if (folder == nullptr || length + 2 > sizeof folder->path) {
    std::free(folder);
    SetLastError(folder == nullptr ? ERROR_NOT_ENOUGH_MEMORY : ERROR_FILENAME_EXCED_RANGE);
    return kInvalidHandle;
  }
  std::memcpy(folder->path, name, length + 1);
  if (length != 0 && std::strchr("\\/:", name[length - 1]) == nullptr)
    folder->path[length] = '\\';
  return reinterpret_cast<OsHandle>(folder);
}

bool CloseFolderWin(OsHandle folder) {
  std::free(reinterpret_cast<Folder*>(folder));
  return true;
}

OsHandle CreateFileAtWin(OsHandle folder, const char* name, FileAccess access,
                         FileCreation creation) {
  char path[kPathBytes];
  if (!Join(folder, name, path)) return kInvalidHandle;
  return NativePlatform().createFile(path, access, creation);
}

OsHandle CreateFileAsAtWin(OsHandle folder, const char* name, OsHandle model,
                           const void* data, std::uint32_t count) {
  char path[kPathBytes];
  if (!Join(folder, name, path)) return kInvalidHandle;
  return NativePlatform().createFileAs(path, model, data, count);
}

bool LookupFileAtWin(OsHandle folder, const char* name, FindData* entry) {
  char path[kPathBytes];
  return Join(folder, name, path) && NativePlatform().lookupFile(path, entry);
}

// Write-through: the new name is on the disk when the call returns.
bool MoveFileOverAtWin(OsHandle folder, const char* from, const char* to, bool replace) {
  char source[kPathBytes];
  char target[kPathBytes];
  WidePath wideSource;
  WidePath wideTarget;
  const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
  return Join(folder, from, source) && Join(folder, to, target) && ToWide(source, wideSource) &&
         ToWide(target, wideTarget) && MoveFileExW(wideSource, wideTarget, flags) != FALSE;
}

bool DeleteFileAtWin(OsHandle folder, const char* name) {
  char path[kPathBytes];
  return Join(folder, name, path) && NativePlatform().deleteFile(path);
}

// NTFS has no flush of one folder's files short of a whole volume, which
// needs an administrator: each archive is flushed, and with it the
// file system's log, which records the archive's name.
//
// Done here and now, not in the background: an archive held open by a
// flush would refuse the replacement a cut makes of it meanwhile.
OsHandle StartFlushAtWin(OsHandle folder, const char* const* names, std::size_t count,
                         OsHandle logFolder, LogRemoval* logs, std::size_t logCount) {
  const PlatformApi& os = NativePlatform();
  DWORD error = 0;
  for (std::size_t i = 0; i < count && error == 0; ++i) {
    char path[kPathBytes];
    if (!Join(folder, names[i], path)) {
      error = GetLastError();
      continue;
    }
    OsHandle file = os.createFile(path, FileAccess::kReadWrite, FileCreation::kOpenExisting);
    if (file == kInvalidHandle && GetLastError() == ERROR_ACCESS_DENIED)
      file = os.createFile(path, FileAccess::kRead, FileCreation::kOpenExisting);
    if (file == kInvalidHandle) {
      error = GetLastError();
      continue;
    }
    if (!os.flushFile(file)) error = GetLastError();
    os.closeHandle(file);
  }
  if (error == 0) {
    RemoveLogsAtWin(logFolder, logs, logCount);
  } else {
    for (std::size_t i = 0; i < logCount; ++i) {
      CloseHandle(reinterpret_cast<HANDLE>(logs[i].file));
      logs[i].error = static_cast<std::int32_t>(error);
    }
  }
  // The outcome is the handle: 0 when all went to the disk, else the error.
  return static_cast<OsHandle>(error);
}

bool FinishFlushWin(OsHandle flush) {
  if (flush == 0) return true;
  SetLastError(static_cast<DWORD>(flush));
  return false;
}

bool RemoveLogsAtWin(OsHandle folder, LogRemoval* logs, std::size_t count) {
  bool all = true;
  for (std::size_t i = 0; i < count; ++i) {
    // This run's own handle would refuse the deletion.
    CloseHandle(reinterpret_cast<HANDLE>(logs[i].file));
    char path[kPathBytes];
    logs[i].error = Join(folder, logs[i].name, path)
                        ? RemoveOne(path, logs[i].copiedSize)
                        : static_cast<std::int32_t>(GetLastError());
    if (logs[i].error != 0) all = false;
  }
  if (!all) SetLastError(ERROR_SHARING_VIOLATION);
  return all;
}

std::uint64_t TickCountWin() { return GetTickCount64(); }

// Handles are limited only by memory, far beyond what a run holds.
std::uint32_t OpenFilesAllowedWin() { return 1u << 24; }

}  // namespace quilbo::win32

#endif  // _WIN32
