// Windows files: opening, reading and writing, and the services on names.
// Every name reaches the system through its UTF-16 form.
#ifdef _WIN32

#include "platform/utf16.h"
#include "platform/win32_internal.h"

namespace quilbo::win32 {

bool ToWide(const char* name, WidePath& path) {
  if (Utf16FromUtf8(name, path, kMaxPath) >= 0) return true;
  // Too long for the system, or not in the core's form (which no name
  // from the system or the command line lacks).
  SetLastError(CharacterCount(name) >= kMaxPath ? ERROR_FILENAME_EXCED_RANGE
                                                : ERROR_INVALID_NAME);
  return false;
}

HANDLE OpenForQuery(const WidePath& path) {
  return CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

OsHandle CreateFileWin(const char* name, FileAccess access, FileCreation creation) {
  WidePath path;
  if (!ToWide(name, path)) return kInvalidHandle;
  SECURITY_ATTRIBUTES inherit{};
  inherit.nLength = sizeof inherit;
  inherit.bInheritHandle = TRUE;
  const DWORD desired =
      access == FileAccess::kRead ? GENERIC_READ : (GENERIC_READ | GENERIC_WRITE);
  const DWORD disposition = creation == FileCreation::kOpenExisting   ? OPEN_EXISTING
                            : creation == FileCreation::kCreateAlways ? CREATE_ALWAYS
                                                                      : CREATE_NEW;
  HANDLE file = CreateFileW(path, desired, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                            disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  return file == INVALID_HANDLE_VALUE ? kInvalidHandle : FromHandle(file);
}

bool ReadFileWin(OsHandle file, void* buffer, std::uint32_t size, std::uint32_t* done) {
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

bool SetEndOfFileWin(OsHandle file) { return SetEndOfFile(ToHandle(file)) != FALSE; }

bool CloseHandleWin(OsHandle handle) { return CloseHandle(ToHandle(handle)) != FALSE; }

// Now: a log held open would refuse its writer's rename or deletion, and
// here closing later would save nothing.
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

bool DeleteFileWin(const char* name) {
  WidePath path;
  return ToWide(name, path) && DeleteFileW(path) != FALSE;
}

bool CreateDirectoryWin(const char* name) {
  WidePath path;
  return ToWide(name, path) && CreateDirectoryW(path, nullptr) != FALSE;
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
  DeleteFileWin(name);
  SetLastError(error);
  return kInvalidHandle;
}

bool LookupFileWin(const char* name, FindData* entry) {
  WidePath path;
  if (!ToWide(name, path)) return false;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return false;
  entry->attributes = data.dwFileAttributes;
  entry->lastWriteTime = FromFileTime(data.ftLastWriteTime);
  entry->size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  entry->name[0] = '\0';
  return true;
}

bool FlushFileWin(OsHandle file) { return FlushFileBuffers(ToHandle(file)) != FALSE; }

}  // namespace quilbo::win32

#endif  // _WIN32
