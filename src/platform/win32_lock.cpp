// Windows: one run at a time per archive folder, and durability.
#ifdef _WIN32

#include <cstdio>

#include "platform/win32_internal.h"

namespace quilbo::win32 {

namespace {

// The lock of a folder is a named mutex whose name is the folder's
// identity (volume serial number and file index), so that every name of the
// folder reaches the same lock, and a folder never holds a lock file. The
// system abandons the mutex of a process that dies; the next waiter then
// gets it. The global namespace makes runs of other sessions (a scheduled
// task, another user's console) wait too.
HANDLE FolderMutex(const BY_HANDLE_FILE_INFORMATION& info) {
  char name[80];
  static constexpr const char* kSpaces[] = {"Global", "Local"};
  for (const char* space : kSpaces) {
    std::snprintf(name, sizeof name, "%s\\Quilbo-%08lX-%08lX%08lX", space,
                  static_cast<unsigned long>(info.dwVolumeSerialNumber),
                  static_cast<unsigned long>(info.nFileIndexHigh),
                  static_cast<unsigned long>(info.nFileIndexLow));
    bool denied = false;
    for (;;) {
      HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
      if (mutex != nullptr) return mutex;
      if (GetLastError() != ERROR_ACCESS_DENIED) return nullptr;
      // Made by another user's run: waiting on it needs only these rights.
      mutex = OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name);
      if (mutex != nullptr) return mutex;
      const DWORD error = GetLastError();
      if (error == ERROR_ACCESS_DENIED) {
        Sleep(50);  // until that run ends and its mutex goes
        continue;
      }
      if (error != ERROR_FILE_NOT_FOUND) return nullptr;
      // No such mutex, yet creating it was refused twice: this process may
      // not make global objects, and its session's namespace must do.
      if (denied) break;
      denied = true;
    }
  }
  return nullptr;
}

}  // namespace

OsHandle LockFolderWin(const char* name, std::uint32_t waitMs) {
  WidePath path;
  if (!ToWide(name, path)) return kInvalidHandle;
  HANDLE folder = OpenForQuery(path);
  if (folder == INVALID_HANDLE_VALUE) return kInvalidHandle;
  BY_HANDLE_FILE_INFORMATION info;
  const BOOL ok = GetFileInformationByHandle(folder, &info);
  const DWORD error = GetLastError();
  CloseHandle(folder);
  if (!ok) {
    SetLastError(error);
    return kInvalidHandle;
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    SetLastError(ERROR_DIRECTORY);
    return kInvalidHandle;
  }
  HANDLE mutex = FolderMutex(info);
  if (mutex == nullptr) return kInvalidHandle;
  const DWORD waited =
      WaitForSingleObject(mutex, waitMs == kWaitForever ? INFINITE : waitMs);
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) return FromHandle(mutex);
  const DWORD failure = waited == WAIT_FAILED    ? GetLastError()
                        : waited == WAIT_TIMEOUT ? ERROR_TIMEOUT
                                                 : ERROR_GEN_FAILURE;
  CloseHandle(mutex);
  SetLastError(failure);
  return kInvalidHandle;
}

bool UnlockFolderWin(OsHandle lock) {
  const BOOL released = ReleaseMutex(ToHandle(lock));
  const DWORD error = GetLastError();
  const BOOL closed = CloseHandle(ToHandle(lock));
  if (!released) SetLastError(error);
  return released != FALSE && closed != FALSE;
}

// NTFS records creations and renames in its log, which the flush of a file
// writes out: a folder needs no flush of its own.
bool FlushFolderWin(OsHandle /*lock*/) { return true; }

}  // namespace quilbo::win32

#endif  // _WIN32
