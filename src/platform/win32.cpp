// The Windows platform: thin forwarding to kernel32 and user32.
#ifdef _WIN32

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "platform/win32_folders.h"

namespace quilbo {

namespace {

HANDLE ToHandle(OsHandle handle) { return reinterpret_cast<HANDLE>(handle); }
OsHandle FromHandle(HANDLE handle) { return reinterpret_cast<OsHandle>(handle); }

std::uint64_t FromFileTime(const FILETIME& time) {
  return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) |
         time.dwLowDateTime;
}

FILETIME ToFileTime(std::uint64_t time) {
  FILETIME result;
  result.dwLowDateTime = static_cast<DWORD>(time);
  result.dwHighDateTime = static_cast<DWORD>(time >> 32);
  return result;
}

void CopyFindData(const WIN32_FIND_DATAA& os, FindData* entry) {
  entry->attributes = os.dwFileAttributes;
  entry->lastWriteTime = FromFileTime(os.ftLastWriteTime);
  entry->size = (static_cast<std::uint64_t>(os.nFileSizeHigh) << 32) |
                os.nFileSizeLow;
  static_assert(sizeof entry->name == sizeof os.cFileName);
  std::memcpy(entry->name, os.cFileName, sizeof entry->name);
  entry->name[sizeof entry->name - 1] = '\0';
}

OsHandle CreateFileWin(const char* name, FileAccess access,
                       FileCreation creation) {
  SECURITY_ATTRIBUTES inherit{};
  inherit.nLength = sizeof inherit;
  inherit.bInheritHandle = TRUE;
  const DWORD desired = access == FileAccess::kRead
                            ? GENERIC_READ
                            : (GENERIC_READ | GENERIC_WRITE);
  const DWORD disposition = creation == FileCreation::kOpenExisting ? OPEN_EXISTING
                            : creation == FileCreation::kCreateAlways ? CREATE_ALWAYS
                                                                      : CREATE_NEW;
  HANDLE file =
      CreateFileA(name, desired, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                  disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  return file == INVALID_HANDLE_VALUE ? kInvalidHandle : FromHandle(file);
}

bool ReadFileWin(OsHandle file, void* buffer, std::uint32_t size,
                 std::uint32_t* done) {
  DWORD got = 0;
  const BOOL ok = ReadFile(ToHandle(file), buffer, size, &got, nullptr);
  if (done != nullptr) *done = ok ? got : 0;
  return ok != FALSE;
}

bool WriteFileWin(OsHandle file, const void* buffer, std::uint32_t size,
                  std::uint32_t* done) {
  DWORD put = 0;
  const BOOL ok = WriteFile(ToHandle(file), buffer, size, &put, nullptr);
  if (done != nullptr) *done = ok ? put : 0;
  return ok != FALSE;
}

bool SetFilePointerWin(OsHandle file, std::int64_t distance, SeekFrom from,
                       std::int64_t* position) {
  const DWORD method = from == SeekFrom::kBegin     ? FILE_BEGIN
                       : from == SeekFrom::kCurrent ? FILE_CURRENT
                                                    : FILE_END;
  LARGE_INTEGER move;
  move.QuadPart = distance;
  LARGE_INTEGER result;
  result.QuadPart = 0;
  if (!SetFilePointerEx(ToHandle(file), move, &result, method)) return false;
  if (position != nullptr) *position = result.QuadPart;
  return true;
}

bool SetEndOfFileWin(OsHandle file) {
  return SetEndOfFile(ToHandle(file)) != FALSE;
}

bool CloseHandleWin(OsHandle handle) {
  return CloseHandle(ToHandle(handle)) != FALSE;
}

FileKind FileTypeWin(OsHandle handle) {
  switch (GetFileType(ToHandle(handle))) {
    case FILE_TYPE_DISK:
      return FileKind::kDisk;
    case FILE_TYPE_CHAR:
    case FILE_TYPE_PIPE:
      return FileKind::kCharacter;
    default:
      return FileKind::kUnknown;
  }
}

OsHandle StdHandleWin(StdStream stream) {
  const DWORD which = stream == StdStream::kInput    ? STD_INPUT_HANDLE
                      : stream == StdStream::kOutput ? STD_OUTPUT_HANDLE
                                                     : STD_ERROR_HANDLE;
  return FromHandle(GetStdHandle(which));
}

OsHandle FindFirstFileWin(const char* pattern, FindData* entry) {
  WIN32_FIND_DATAA os;
  HANDLE search = FindFirstFileA(pattern, &os);
  if (search == INVALID_HANDLE_VALUE) return kInvalidHandle;
  CopyFindData(os, entry);
  return FromHandle(search);
}

bool FindNextFileWin(OsHandle search, FindData* entry) {
  WIN32_FIND_DATAA os;
  if (!FindNextFileA(ToHandle(search), &os)) return false;
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

bool FileTimeToDosWin(std::uint64_t time, std::uint16_t* dosDate,
                      std::uint16_t* dosTime) {
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

void CharToOemWin(const char* source, char* destination) {
  CharToOemA(source, destination);
}

void OemToCharWin(const char* source, char* destination) {
  OemToCharA(source, destination);
}

bool DeleteFileWin(const char* name) { return DeleteFileA(name) != FALSE; }

bool CreateDirectoryWin(const char* name) {
  return CreateDirectoryA(name, nullptr) != FALSE;
}

bool MoveFileWin(const char* from, const char* to) {
  return MoveFileA(from, to) != FALSE;
}

bool FileIdentityWin(const char* name, FileIdentity* identity) {
  HANDLE file = CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const BOOL ok = GetFileInformationByHandle(file, &info);
  const DWORD error = GetLastError();
  CloseHandle(file);
  if (!ok) {
    SetLastError(error);
    return false;
  }
  identity->volume = info.dwVolumeSerialNumber;
  identity->index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) |
                    info.nFileIndexLow;
  return true;
}

// New files take the permissions their folder passes on. A failed first
// write takes the new name away again.
OsHandle CreateFileAsWin(const char* name, OsHandle /*model*/, const void* data,
                         std::uint32_t count) {
  const OsHandle file = CreateFileWin(name, FileAccess::kReadWrite, FileCreation::kCreateNew);
  if (file == kInvalidHandle || count == 0) return file;
  DWORD put = 0;
  const BOOL ok = WriteFile(ToHandle(file), data, count, &put, nullptr);
  if (ok && put == count) return file;
  const DWORD error = ok ? ERROR_DISK_FULL : GetLastError();
  CloseHandle(ToHandle(file));
  DeleteFileA(name);
  SetLastError(error);
  return kInvalidHandle;
}

bool MoveFileOverWin(const char* from, const char* to, bool replace) {
  const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
  return MoveFileExA(from, to, flags) != FALSE;
}

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

OsHandle LockFolderWin(const char* name) {
  HANDLE folder = CreateFileA(
      name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
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
  const DWORD waited = WaitForSingleObject(mutex, INFINITE);
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) return FromHandle(mutex);
  const DWORD failure = waited == WAIT_FAILED ? GetLastError() : ERROR_GEN_FAILURE;
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

bool FlushFileWin(OsHandle file) { return FlushFileBuffers(ToHandle(file)) != FALSE; }

// NTFS records creations and renames in its log, which the flush of a file
// writes out: a folder needs no flush of its own.
bool FlushFolderWin(OsHandle /*lock*/) { return true; }

bool LookupFileWin(const char* name, FindData* entry) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(name, GetFileExInfoStandard, &data)) return false;
  entry->attributes = data.dwFileAttributes;
  entry->lastWriteTime = FromFileTime(data.ftLastWriteTime);
  entry->size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) |
                data.nFileSizeLow;
  entry->name[0] = '\0';
  return true;
}

const char* CommandLineWin() { return GetCommandLineA(); }

bool SplitArgumentsWin(int* count, const char* const** arguments) {
  *count = 0;
  *arguments = nullptr;
  return false;
}

std::uint32_t ExecutablePathWin(char* buffer, std::uint32_t size) {
  if (size == 0) return 0;
  const DWORD n = GetModuleFileNameA(nullptr, buffer, size);
  if (n == 0 || n >= size) {
    buffer[n == 0 ? 0 : size - 1] = '\0';
    return n == 0 ? 0 : size - 1;
  }
  return n;
}

bool ModuleOfAddressWin(const void* address, char* path, std::uint32_t size,
                        std::uintptr_t* base) {
  MEMORY_BASIC_INFORMATION info;
  if (VirtualQuery(address, &info, sizeof info) == 0) return false;
  *base = reinterpret_cast<std::uintptr_t>(info.AllocationBase);
  const DWORD n = GetModuleFileNameA(static_cast<HMODULE>(info.AllocationBase),
                                     path, size);
  if (n == 0) return false;
  if (n >= size) path[size - 1] = '\0';
  return true;
}

std::int32_t LastErrorWin() { return static_cast<std::int32_t>(GetLastError()); }
void SetLastErrorWin(std::int32_t code) { SetLastError(static_cast<DWORD>(code)); }
void ExitProcessWin(std::uint32_t code) { ExitProcess(code); }

void* Allocate(std::size_t size) { return std::malloc(size); }
void Release(void* block) { std::free(block); }

using namespace win32;

const PlatformApi kWin32 = {
    CreateFileWin,      ReadFileWin,        WriteFileWin,
    SetFilePointerWin,  SetEndOfFileWin,    CloseHandleWin,
    FileTypeWin,        StdHandleWin,       CreateFileAsWin,
    MoveFileOverWin,    FindFirstFileWin,
    FindNextFileWin,    FindCloseWin,       FileTimeToLocalWin,
    FileTimeToDosWin,   CharToOemWin,       OemToCharWin,
    DeleteFileWin,      CreateDirectoryWin, MoveFileWin,
    FileIdentityWin,    LookupFileWin,
    LockFolderWin,      UnlockFolderWin,    FlushFileWin,
    FlushFolderWin,     OpenFolderWin,      CloseFolderWin,
    CreateFileAtWin,    LookupFileAtWin,    FileIdentityAtWin,
    CreateFileAsAtWin,  DeleteFileAtWin,    FlushFilesAtWin,    RemoveLogsAtWin,
    TickCountWin,       CommandLineWin,     SplitArgumentsWin,
    ExecutablePathWin,  ModuleOfAddressWin, Allocate,
    Release,            LastErrorWin,       SetLastErrorWin,
    ExitProcessWin,
};

}  // namespace

const PlatformApi& NativePlatform() { return kWin32; }

void InitPlatform(int /*argc*/, char** /*argv*/) {}

}  // namespace quilbo

#endif  // _WIN32
