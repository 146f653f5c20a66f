// Windows folders opened once per run: a folder handle carries the folder's
// path, and each step joins it with one entry name and makes the call that
// takes the whole path. The system resolves that path each time, so these
// wrappers stay thin and go through the table's own name-based services.
#ifdef _WIN32

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
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
                     OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                     nullptr);
}

bool Describe(HANDLE file, FileInfo* out) {
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandle(file, &info) == FALSE) return false;
  std::uint32_t attributes = info.dwFileAttributes & (kAttrReadOnly | kAttrHidden | kAttrSystem |
                                                      kAttrDirectory | kAttrArchive);
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) attributes |= kAttrLink;
  out->attributes = attributes;
  out->size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  out->lastWriteTime = FromFileTime(info.ftLastWriteTime);
  out->identity.volume = info.dwVolumeSerialNumber;
  out->identity.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  // Only a file on a disk has this information: devices and pipes fail above.
  out->kind = (attributes & kAttrDirectory) != 0 ? FileKind::kUnknown : FileKind::kDisk;
  return true;
}

}  // namespace

OsHandle OpenFolderWin(const char* name) {
  FindData found{};
  if (name[0] != '\0' && !LookupFileWin(name, &found)) {
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
  return CreateFileWin(path, access, creation);
}

OsHandle CreateFileAsAtWin(OsHandle folder, const char* name, OsHandle model,
                           const void* data, std::uint32_t count) {
  char path[kPathBytes];
  if (!Join(folder, name, path)) return kInvalidHandle;
  return CreateFileAsWin(path, model, data, count);
}

OsHandle CreateUnnamedAtWin(OsHandle /*folder*/, OsHandle /*model*/) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return kInvalidHandle;
}

bool NameFileAtWin(OsHandle /*folder*/, OsHandle /*file*/, const char* /*name*/) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return false;
}

// The search holds no handle here: the name is opened.
OsHandle OpenFoundAtWin(OsHandle folder, FindData* entry) {
  return CreateFileAtWin(folder, entry->name, FileAccess::kRead, FileCreation::kOpenExisting);
}

// Write-through: the new name is on the disk when the call returns.
bool MoveFileAtWin(OsHandle fromFolder, const char* from, OsHandle toFolder, const char* to,
                   bool replace) {
  char source[kPathBytes];
  char target[kPathBytes];
  WidePath wideSource;
  WidePath wideTarget;
  const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
  return Join(fromFolder, from, source) && Join(toFolder, to, target) && ToWide(source, wideSource) &&
         ToWide(target, wideTarget) && MoveFileExW(wideSource, wideTarget, flags) != FALSE;
}

bool DeleteFileAtWin(OsHandle folder, const char* name) {
  char path[kPathBytes];
  return Join(folder, name, path) && DeleteFileWin(path);
}

// NTFS has no flush of one folder's files short of a whole volume, which
// needs an administrator: each file is flushed, and with it the file
// system's log, which records the file's name.
bool FlushFilesAtWin(OsHandle folder, const char* const* names, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    char path[kPathBytes];
    if (!Join(folder, names[i], path)) return false;
    OsHandle file = CreateFileWin(path, FileAccess::kReadWrite, FileCreation::kOpenExisting);
    if (file == kInvalidHandle && GetLastError() == ERROR_ACCESS_DENIED)
      file = CreateFileWin(path, FileAccess::kRead, FileCreation::kOpenExisting);
    if (file == kInvalidHandle) return false;
    const bool flushed = FlushFileWin(file);
    const DWORD error = GetLastError();
    CloseHandleWin(file);
    if (!flushed) {
      SetLastError(error);
      return false;
    }
  }
  return true;
}

bool EntryInfoAtWin(OsHandle folder, const char* name, bool followLinks, FileInfo* info) {
  char path[kPathBytes];
  WidePath wide;
  if (!Join(folder, name, path) || !ToWide(path, wide)) return false;
  HANDLE file = CreateFileW(wide, FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING,
                            (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT) | FILE_FLAG_BACKUP_SEMANTICS,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool ok = Describe(file, info);
  const DWORD error = GetLastError();
  CloseHandle(file);
  SetLastError(error);
  return ok;
}

bool FileInfoOfWin(OsHandle file, FileInfo* info) { return Describe(ToHandle(file), info); }

OsHandle OpenToDeleteAtWin(OsHandle folder, const char* name) {
  char path[kPathBytes];
  WidePath wide;
  if (!Join(folder, name, path) || !ToWide(path, wide)) return kInvalidHandle;
  HANDLE file = OpenToDelete(wide);
  return file == INVALID_HANDLE_VALUE ? kInvalidHandle : reinterpret_cast<OsHandle>(file);
}

// The sharing modes keep other processes out instead.
bool NoLeaseWin(OsHandle /*file*/) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return false;
}

}  // namespace quilbo::win32

#endif  // _WIN32
